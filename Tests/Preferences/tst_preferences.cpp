#include "Autostart.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
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

    void defaultsAreReadButNeverWritten() {
        Preferences::Settings settings;
        QVERIFY(settings.fileName().startsWith(config_.path()));
        QCOMPARE(settings.serverURL(), QString::fromUtf8(Preferences::kDefaultServerURL));
        QVERIFY(settings.serverURL().startsWith(QStringLiteral("https://")));
        QCOMPARE(settings.apiKey(), QString());
        QVERIFY(!QFile::exists(settings.fileName()));
    }

    void typedValuesRoundTripExactly() {
        Preferences::Settings settings;
        settings.setApiKey(QStringLiteral("  vl_ключ с пробелами  "));
        settings.setServerURL(QString());
        QSettings fresh(settings.fileName(), QSettings::NativeFormat);
        QCOMPARE(fresh.value("apiKey").toString(), QStringLiteral("  vl_ключ с пробелами  "));
        QVERIFY(fresh.contains("serverURL"));
        QCOMPARE(fresh.value("serverURL").toString(), QString());
        // The empty string is stored, not the default.
        QCOMPARE(Preferences::Settings().serverURL(), QString());
    }

    void fileIsReadableByTheUserAlone() {
        Preferences::Settings settings;
        QFile::remove(settings.fileName());
        settings.setApiKey(QStringLiteral("secret"));
        QCOMPARE(modeOf(settings.fileName()), 0600u);
        settings.setServerURL(QStringLiteral("https://example.org"));
        QCOMPARE(modeOf(settings.fileName()), 0600u);
    }

    // What the session finds: an entry desktop-file-validate accepts that starts exactly the program
    // it names, even one whose path needs quoting, and the checkbox's state read back from disk.
    void autostartEntryStartsTheProgramAsTheSessionWould() {
        const QString dir = config_.filePath(QStringLiteral("autostart"));
        const QString bin = config_.filePath(QStringLiteral("a \"b\" $c `d` \\e"));
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
        QProcess launch;
        launch.start(QStringLiteral("gio"), {QStringLiteral("launch"), autostart.path()});
        QVERIFY(launch.waitForFinished(10000) && launch.exitCode() == 0);
        QTRY_COMPARE_WITH_TIMEOUT(contents(program + QStringLiteral(".args")), QByteArray("--autostart|"), 10000);

        // The user's own switch in the file is honoured; turning it off removes our entry.
        QFile entry(autostart.path());
        QVERIFY(entry.open(QIODevice::Append));
        entry.write("Hidden=true\n");
        entry.close();
        QVERIFY(!autostart.isEnabled());
        autostart.setEnabled(false);
        QVERIFY(!QFile::exists(autostart.path()));
        QVERIFY(!autostart.isEnabled());
    }
};

QTEST_GUILESS_MAIN(PreferencesTest)
#include "tst_preferences.moc"
