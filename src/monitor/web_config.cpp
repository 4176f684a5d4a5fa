// The exporters' web configuration file read with yaml-cpp, and its passwords checked with libcrypt.
#include "web_config.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <crypt.h>
#include <yaml-cpp/yaml.h>

#include <cctype>
#include <cstring>
#include <vector>

namespace {

// What is wrong with the file, in words.
struct Fault
{
    QString text;
};

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

// The entries of a mapping, each key once; nothing for an empty value.
std::vector<std::pair<std::string, YAML::Node>> entries(const YAML::Node& node, const QString& where)
{
    std::vector<std::pair<std::string, YAML::Node>> all;
    if (node.IsNull())
        return all;
    if (!node.IsMap())
        throw Fault{QStringLiteral("%1 is not a mapping").arg(where)};
    for (const auto& entry : node) {
        if (!entry.first.IsScalar())
            throw Fault{QStringLiteral("%1 has a key that is not a name").arg(where)};
        for (const auto& seen : all)
            if (seen.first == entry.first.Scalar())
                throw Fault{QStringLiteral("%1 has %2 twice").arg(where, q(seen.first))};
        all.emplace_back(entry.first.Scalar(), entry.second);
    }
    return all;
}

std::string scalar(const YAML::Node& node, const QString& where)
{
    if (!node.IsScalar())
        throw Fault{QStringLiteral("%1 is not a string").arg(where)};
    return node.Scalar();
}

// "$2a$", "$2b$" or "$2y$", a cost of 04 to 31, "$", then 22 characters of salt and 31 of hash.
bool is_bcrypt(const std::string& hash)
{
    static const std::string alphabet = "./ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    if (hash.size() != 60 || hash.compare(0, 2, "$2") != 0 || std::strchr("aby", hash[2]) == nullptr || hash[3] != '$'
        || hash[6] != '$')
        return false;
    const int cost = (hash[4] - '0') * 10 + (hash[5] - '0');
    return std::isdigit(static_cast<unsigned char>(hash[4])) && std::isdigit(static_cast<unsigned char>(hash[5]))
        && cost >= 4 && cost <= 31 && hash.find_first_not_of(alphabet, 7) == std::string::npos;
}

QByteArray contents(const QString& file, const char* key)
{
    QFile read(file);
    if (!read.open(QIODevice::ReadOnly))
        throw Fault{QStringLiteral("cannot read %1 %2: %3").arg(key, file, read.errorString())};
    return read.readAll();
}

void read_tls(const YAML::Node& node, const QDir& folder, Web_config::Settings& settings)
{
    const QString where = QStringLiteral("tls_server_config");
    QString cert, key;
    for (const auto& [name, value] : entries(node, where)) {
        if (name == "cert_file")
            cert = q(scalar(value, where + ": cert_file"));
        else if (name == "key_file")
            key = q(scalar(value, where + ": key_file"));
        else
            throw Fault{
                QStringLiteral("%1: unknown key %2 (this server reads cert_file and key_file)").arg(where, q(name))};
    }
    if (cert.isEmpty() != key.isEmpty())
        throw Fault{where + (cert.isEmpty() ? ": key_file without cert_file" : ": cert_file without key_file")};
    if (cert.isEmpty())
        return;
    settings.cert_file = folder.absoluteFilePath(cert);
    settings.key_file = folder.absoluteFilePath(key);
    settings.cert = contents(settings.cert_file, "cert_file");
    settings.key = contents(settings.key_file, "key_file");
}

void read_users(const YAML::Node& node, Web_config::Settings& settings)
{
    const QString where = QStringLiteral("basic_auth_users");
    for (const auto& [name, value] : entries(node, where)) {
        const std::string hash = scalar(value, QStringLiteral("%1: %2").arg(where, q(name)));
        if (!is_bcrypt(hash))
            throw Fault{
                QStringLiteral("%1: the hash of %2 is not a bcrypt hash ($2a$, $2b$ or $2y$)").arg(where, q(name))};
        settings.users.emplace(name, hash);
    }
}

std::shared_ptr<const Web_config::Settings> parse(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Fault{QStringLiteral("cannot read it: %1").arg(file.errorString())};
    auto settings = std::make_shared<Web_config::Settings>();
    try {
        const YAML::Node root = YAML::Load(file.readAll().toStdString());
        for (const auto& [name, value] : entries(root, QStringLiteral("the file"))) {
            if (name == "tls_server_config")
                read_tls(value, QFileInfo(path).absoluteDir(), *settings);
            else if (name == "basic_auth_users")
                read_users(value, *settings);
            else
                throw Fault{QStringLiteral("unknown key %1").arg(q(name))};
        }
    } catch (const YAML::Exception& error) {
        if (error.mark.is_null())
            throw Fault{QStringLiteral("not YAML: %1").arg(q(error.msg))};
        throw Fault{QStringLiteral("not YAML: line %1: %2").arg(error.mark.line + 1).arg(q(error.msg))};
    }
    return settings;
}

// bcrypt's output has a fixed length: only its bytes could tell where it differs.
bool same_in_constant_time(const char* result, const std::string& hash)
{
    if (result == nullptr || std::strlen(result) != hash.size())
        return false;
    unsigned char differs = 0;
    for (std::size_t i = 0; i < hash.size(); ++i)
        differs |= static_cast<unsigned char>(result[i] ^ hash[i]);
    return differs == 0;
}

} // namespace

Web_config::Web_config(const QString& path)
    : path(path)
{
    read();
}

bool Web_config::reload_if_changed()
{
    const QFileInfo info(path);
    if (info.lastModified() == modified && (info.exists() ? info.size() : -1) == size)
        return false;
    read();
    return true;
}

// The time and size are taken first: a change while it is read is read again next time.
void Web_config::read()
{
    const QFileInfo info(path);
    modified = info.lastModified();
    size = info.exists() ? info.size() : -1;
    try {
        std::shared_ptr<const Settings> settings = parse(path);
        const std::lock_guard<std::mutex> guard(lock);
        current = std::move(settings);
        passed.clear();
        last_fault.clear();
    } catch (const Fault& fault) {
        last_fault = QStringLiteral("%1: %2").arg(path, fault.text);
        if (loaded())
            last_fault += QStringLiteral("; the last good configuration stays in force");
    }
}

QString Web_config::fault() const
{
    return last_fault;
}

bool Web_config::loaded() const
{
    const std::lock_guard<std::mutex> guard(lock);
    return current != nullptr;
}

std::shared_ptr<const Web_config::Settings> Web_config::settings() const
{
    const std::lock_guard<std::mutex> guard(lock);
    return current ? current : std::make_shared<const Settings>();
}

bool Web_config::check(const QString& user, const QString& password) const
{
    const std::shared_ptr<const Settings> now = settings();
    if (now->users.empty())
        return false;
    const std::string name = user.toStdString(), phrase = password.toStdString();
    const auto found = now->users.find(name);
    // An unknown name is checked against another user's hash, at the same cost.
    const std::string& hash = found != now->users.end() ? found->second : now->users.begin()->second;
    const QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(name + '\0' + phrase + '\0' + hash),
                                                       QCryptographicHash::Sha256);
    if (found != now->users.end()) {
        const std::lock_guard<std::mutex> guard(lock);
        if (passed.contains(digest))
            return true;
    }
    const auto data = std::make_unique<crypt_data>();
    const bool good =
        same_in_constant_time(crypt_r(phrase.c_str(), hash.c_str(), data.get()), hash) && found != now->users.end();
    if (good) {
        const std::lock_guard<std::mutex> guard(lock);
        if (current == now)
            passed.insert(digest);
    }
    return good;
}
