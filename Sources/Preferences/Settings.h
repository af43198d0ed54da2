// The user's settings, stored as typed. A default is only what a read returns while the key
// is absent; it is never written.
#pragma once

#include <QString>

namespace Preferences {

inline constexpr const char* kDefaultServerURL = "https://velmor.app";

struct Setting {
    const char* key;
    const char* defaultValue;
};
inline constexpr Setting kServerURL{"serverURL", kDefaultServerURL};
inline constexpr Setting kApiKey{"apiKey", ""};
// What a call noticed on the audio server does: "nothing", "suggest" or "record".
inline constexpr Setting kWhenCallStarts{"whenCallStarts", "suggest"};
// "yes" once the user agreed to recordings that start by themselves.
inline constexpr Setting kAutoRecordAgreed{"autoRecordAgreed", ""};

enum class CallAction { nothing, suggest, record };

class Settings {
public:
    // The per-user store. Tests point XDG_CONFIG_HOME elsewhere to get a store of their own.
    Settings();

    QString value(const Setting& setting) const;
    void setValue(const Setting& setting, const QString& value);

    QString serverURL() const { return value(kServerURL); }
    QString apiKey() const { return value(kApiKey); }
    void setServerURL(const QString& url) { setValue(kServerURL, url); }
    void setApiKey(const QString& key) { setValue(kApiKey, key); }

    // Recording by itself only once the user agreed to it.
    CallAction callAction() const;
    void setCallAction(CallAction action);
    bool hasAgreedToAutoRecord() const { return value(kAutoRecordAgreed) == QLatin1String("yes"); }
    void agreeToAutoRecord() { setValue(kAutoRecordAgreed, QStringLiteral("yes")); }

    QString fileName() const;
};

} // namespace Preferences
