#pragma once

// The web configuration file that Prometheus exporters read, for monitor's server: the TLS
// certificate and key, and the users with their bcrypt hashes; read again when it changes.

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QString>

#include <map>
#include <memory>
#include <mutex>
#include <string>

class Web_config
{
public:
    // What one good file holds. Paths in the file are taken from its folder, as exporters take them.
    struct Settings
    {
        QString cert_file, key_file;              // both or neither
        QByteArray cert, key;                     // their contents as read with the file
        std::map<std::string, std::string> users; // name: bcrypt hash

        bool tls() const { return !cert_file.isEmpty(); }
    };

    // Reads `path` at once; fault() says what was wrong with it.
    explicit Web_config(const QString& path);

    // Reads the file again when its modification time or size changed since the last read;
    // true when it did. A bad new file leaves the last good settings in force, and fault()
    // says so. This and fault() on the owner's thread; the rest on any.
    bool reload_if_changed();

    // Empty while the file last read was good.
    QString fault() const;
    // Whether any read was good; settings() are empty until one is.
    bool loaded() const;
    std::shared_ptr<const Settings> settings() const;

    // Whether `password` is the user's, by its bcrypt hash. An unknown user costs a hash too,
    // so that the time taken does not tell names apart.
    bool check(const QString& user, const QString& password) const;

private:
    void read();

    const QString path;
    QDateTime modified;
    qint64 size = -1;
    QString last_fault;
    mutable std::mutex lock;
    std::shared_ptr<const Settings> current;
    // Logins that passed, as digests of name, password and hash: bcrypt is slow by design, too
    // slow for a scrape every second. Emptied when the settings change.
    mutable QSet<QByteArray> passed;
};
