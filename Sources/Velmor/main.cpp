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

    Instance::SingleInstance instance;
    if (!instance.claim()) {
        return 0;
    }
    VelmorApp app(nullptr, QApplication::arguments().contains(Preferences::Autostart::argument())
                               ? VelmorApp::Start::withSession
                               : VelmorApp::Start::byUser);
    QObject::connect(&instance, &Instance::SingleInstance::showRequested, &app, &VelmorApp::showPanel);
    return application.exec();
}
