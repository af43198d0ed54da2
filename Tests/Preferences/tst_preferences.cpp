#include "Autostart.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {
unsigned modeOf(const QString& path) {
    struct stat info = {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 0777;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class PreferencesTest : public QObject {
    Q_OBJECT

    QTemporaryDir config_;

private slots:
    void initTestCase() {
        // Never the user's own settings.
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
    }

    // Defaults are read, never written; what is typed is stored exactly, in a file of the user's
    // alone; recording calls by itself holds only once the user agreed to it.
    void settingsAreStoredAsTypedForTheUserAlone() {
        Preferences::Settings settings;
        QVERIFY(settings.fileName().startsWith(config_.path()));
        QCOMPARE(settings.serverURL(), QString::fromUtf8(Preferences::kDefaultServerURL));
        QVERIFY(settings.serverURL().startsWith(QStringLiteral("https://")) && settings.apiKey().isEmpty());
        QCOMPARE(settings.callAction(), Preferences::CallAction::suggest);
        QVERIFY(!QFile::exists(settings.fileName()));
        settings.setApiKey(QStringLiteral("  vl_ключ с пробелами  "));
        QCOMPARE(modeOf(settings.fileName()), 0600u);
        settings.setServerURL(QString());
        QCOMPARE(modeOf(settings.fileName()), 0600u);
        QSettings fresh(settings.fileName(), QSettings::NativeFormat);
        QCOMPARE(fresh.value("apiKey").toString(), QStringLiteral("  vl_ключ с пробелами  "));
        QVERIFY(fresh.contains("serverURL"));
        QCOMPARE(Preferences::Settings().serverURL(), QString()); // the empty string, not the default
        settings.setCallAction(Preferences::CallAction::record);
        QCOMPARE(settings.callAction(), Preferences::CallAction::suggest);
        settings.agreeToAutoRecord();
        QCOMPARE(Preferences::Settings().callAction(), Preferences::CallAction::record);
        settings.setCallAction(Preferences::CallAction::nothing);
        QCOMPARE(Preferences::Settings().callAction(), Preferences::CallAction::nothing);
    }

    // What the session finds: an entry desktop-file-validate accepts that starts exactly the program
    // it names, even one whose path needs quoting or holds a "%", and the box's state read back.
    void autostartEntryStartsTheProgramAsTheSessionWould_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("exec"); // of a path with "%", which GLib's launcher cannot find
        QTest::newRow("quoted") << QStringLiteral("a \"b\" $c `d` \\e") << QByteArray();
        QTest::newRow("plain with %") << QStringLiteral("100%") << QByteArray("100%%/velmor\" --autostart");
        QTest::newRow("quoted with %") << QStringLiteral("1 %f") << QByteArray("1 %%f/velmor\" --autostart");
    }
    void autostartEntryStartsTheProgramAsTheSessionWould() {
        QFETCH(QString, folder);
        QFETCH(QByteArray, exec);
        const QString dir = config_.filePath(QStringLiteral("autostart"));
        const QString bin = config_.filePath(folder);
        QVERIFY(QDir().mkpath(bin));
        const QString program = bin + QStringLiteral("/velmor");
        QFile script(program);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s|' \"$@\" > \"$0.args\"\n");
        script.close();
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);

        Preferences::Autostart autostart(program, dir);
        QVERIFY(!autostart.isEnabled());
        autostart.setEnabled(true);
        QVERIFY(autostart.isEnabled());
        QCOMPARE(QProcess::execute(QStringLiteral("desktop-file-validate"), {autostart.path()}), 0);
        if (!exec.isEmpty()) {
            QVERIFY2(contents(autostart.path()).contains(exec + '\n'), contents(autostart.path()).constData());
            autostart.setEnabled(false);
            return;
        }
        QProcess launch;
        launch.start(QStringLiteral("gio"), {QStringLiteral("launch"), autostart.path()});
        QVERIFY(launch.waitForFinished(10000) && launch.exitCode() == 0);
        QTRY_COMPARE_WITH_TIMEOUT(contents(program + QStringLiteral(".args")), QByteArray("--autostart|"), 10000);
        autostart.setEnabled(false); // ours as written: removed
        QVERIFY(!QFile::exists(autostart.path()) && !autostart.isEnabled());
    }

    // An entry the user wrote or changed is only switched, with everything else in it kept.
    void aUsersOwnEntryIsSwitchedNeverReplaced() {
        Preferences::Autostart autostart(QStringLiteral("/usr/bin/velmor"),
                                         config_.filePath(QStringLiteral("own")));
        QVERIFY(QDir().mkpath(QFileInfo(autostart.path()).path()));
        const QByteArray own =
            "[Desktop Entry]\nType=Application\nName=Мой Велмор\nExec=env X=1 velmor\nActions=x;\n"
            "X-GNOME-Autostart-enabled=false\n\n[Desktop Action x]\nName=x\nExec=x\n";
        QFile file(autostart.path());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(own) == own.size());
        file.close();
        QVERIFY(!autostart.isEnabled());
        autostart.setEnabled(true);
        QVERIFY(autostart.isEnabled());
        QCOMPARE(contents(autostart.path()), QByteArray(own).replace("X-GNOME-Autostart-enabled=false\n", ""));
        autostart.setEnabled(false);
        QVERIFY(!autostart.isEnabled());
        QCOMPARE(contents(autostart.path()), QByteArray(own)
                                                 .replace("X-GNOME-Autostart-enabled=false\n", "")
                                                 .replace("[Desktop Entry]\n", "[Desktop Entry]\nHidden=true\n"));
        QCOMPARE(QProcess::execute(QStringLiteral("desktop-file-validate"), {autostart.path()}), 0);
    }

    // Something other than a file in its place is neither read (a FIFO would never end) nor replaced.
    void aFifoInItsPlaceIsLeftAndToldOf() {
        Preferences::Autostart autostart(QStringLiteral("/usr/bin/velmor"),
                                         config_.filePath(QStringLiteral("fifo")));
        QVERIFY(QDir().mkpath(QFileInfo(autostart.path()).path()));
        QCOMPARE(::mkfifo(QFile::encodeName(autostart.path()).constData(), 0600), 0);
        QVERIFY(!autostart.isEnabled());
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, autostart.setEnabled(true));
        QVERIFY(QFileInfo(autostart.path()).exists() && !QFileInfo(autostart.path()).isFile());
    }
};

QTEST_GUILESS_MAIN(PreferencesTest)
#include "tst_preferences.moc"
