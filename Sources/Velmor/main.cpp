#include "Autostart.h"
#include "HttpClient.h"
#include "SingleInstance.h"
#include "VelmorApp.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    const Http::CurlSession curl;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmor"));
    QApplication::setApplicationDisplayName(QStringLiteral("Велмор"));
    QApplication::setDesktopFileName(QStringLiteral(VELMOR_APP_ID));
    // Living in the tray, closing the panel must not end the process.
    QApplication::setQuitOnLastWindowClosed(false);

    // "--start", "--stop" (and send) or "--toggle" acts on the running instance, or on this one
    // once it runs; a plain launch shows the panel.
    QByteArray command = "show";
    for (const QString& argument : QApplication::arguments().mid(1)) {
        if (argument.startsWith(QStringLiteral("--")) &&
            Instance::SingleInstance::isCommand(argument.mid(2).toUtf8())) {
            command = argument.mid(2).toUtf8();
        }
    }
    Instance::SingleInstance instance;
    if (!instance.claim(command)) {
        return 0;
    }
    const bool isAutostart = QApplication::arguments().contains(Preferences::Autostart::argument());
    VelmorApp app(nullptr,
                  isAutostart || command != "show" ? VelmorApp::Start::withSession : VelmorApp::Start::byUser);
    QObject::connect(&instance, &Instance::SingleInstance::commandReceived, &app, &VelmorApp::perform);
    if (command != "show") {
        app.perform(command);
    }
    return application.exec();
}
