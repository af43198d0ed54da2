#include "Settings.h"

#include <QFile>
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
};

QTEST_GUILESS_MAIN(PreferencesTest)
#include "tst_preferences.moc"
