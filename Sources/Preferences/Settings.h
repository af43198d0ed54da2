// The user's two settings, stored as typed. A default is only what a read returns while the key
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

    QString fileName() const;
};

} // namespace Preferences
