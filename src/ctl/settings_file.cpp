// Writing, reading and checking a settings file.
#include "settings_file.h"

#include "models.h"
#include "setting_names.h"
#include "status_texts.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace settings_file {

namespace {

const QString version_key = QStringLiteral("format_version");
const QString model_key = QStringLiteral("model");
const QString protocol_key = QStringLiteral("protocol_version");
const QString saved_key = QStringLiteral("saved");
const QString settings_key = QStringLiteral("settings");

// A JSON value as the file has it: "text", 3, true, null.
QString json_text(const QJsonValue& value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString quoted(const QStringList& texts)
{
    return '"' + texts.join(QStringLiteral("\", \"")) + '"';
}

// The file's bytes, or why they cannot be read. Only a regular file is read, and no more of it
// than max_size: a FIFO or a device named by mistake would hold the caller up, or never end.
QString read_regular(const QString& path, QByteArray& bytes)
{
    const QString irregular = QStringLiteral("not a regular file");
    if (QFileInfo(path).exists() && !QFileInfo(path).isFile()) // a device is not even opened
        return irregular;
    // Without blocking, in case it was replaced since.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return qt_error_string(errno);
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return irregular;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return file.errorString();
    }
    bytes = file.read(max_size + 1);
    if (bytes.size() > max_size)
        return QStringLiteral("larger than %1 KiB").arg(max_size / 1024);
    return QString();
}

// Which Group A and Group B setting: the two may never name the same group.
bool is_group_select(const Setting_name& setting)
{
    return setting.field == &Settings_values::out_group_1 || setting.field == &Settings_values::out_group_2;
}

} // namespace

QByteArray write(const status::Values& box)
{
    QJsonObject settings;
    for (const Setting_name& setting : setting_names(box.device_id))
        settings.insert(setting.name(), setting.text(box.settings));
    const QJsonObject file{
        {version_key, format_version},
        {model_key, status_texts::model(box.device_id)},
        {protocol_key, QStringLiteral("%1.%2").arg(box.protocol_version >> 4).arg(box.protocol_version & 0x0F)},
        {saved_key, QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
        {settings_key, settings},
    };
    return QJsonDocument(file).toJson(QJsonDocument::Indented);
}

Contents read(const QByteArray& bytes, Setting_table table, int program_version)
{
    Contents contents;
    if (bytes.trimmed().isEmpty()) {
        contents.faults << QStringLiteral("the file is empty");
        return contents;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (!document.isObject()) {
        contents.faults << (error.error != QJsonParseError::NoError
                                ? QStringLiteral("not JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset)
                                : QStringLiteral("not a settings file: a JSON object is expected"));
        return contents;
    }
    const QJsonObject file = document.object();
    const QJsonValue version = file.value(version_key);
    const int file_version = version.toInt(-1);
    if (file_version < 1 || file_version > program_version) {
        contents.faults << QStringLiteral("\"%1\" is %2; this tavolinkctl reads format versions 1 to %3%4")
                               .arg(version_key, version.isUndefined() ? QStringLiteral("missing") : json_text(version))
                               .arg(program_version)
                               .arg(file_version > program_version
                                        ? QStringLiteral("; version %1 needs a newer tavolinkctl").arg(file_version)
                                        : QString());
        return contents;
    }
    const QString model = file.value(model_key).toString();
    if (const models::Model* named = models::by_name(model))
        contents.device_id = named->device_id;
    if (contents.device_id == 0) {
        QStringList names;
        for (const models::Model& known : models::all())
            names << known.name;
        contents.faults << QStringLiteral("\"%1\" is \"%2\"; it may be %3").arg(model_key, model, quoted(names));
        return contents;
    }
    const QJsonObject settings = file.value(settings_key).toObject();
    QString group_texts[2];
    for (const Setting_name& setting : table(contents.device_id)) {
        const QString name = setting.name();
        const QJsonValue value = settings.value(name);
        const QStringList& items = setting.items(contents.values);
        const int index = items.indexOf(value.toString());
        if (value.isUndefined() && setting.since_format > file_version)
            contents.not_in_file.push_back(&setting);
        else if (value.isUndefined())
            contents.faults << QStringLiteral("setting \"%1\" is missing; it may be %2").arg(name, quoted(items));
        else if (!value.isString() || index < 0)
            contents.faults << QStringLiteral("setting \"%1\" cannot be %2; it may be %3")
                                   .arg(name, json_text(value), quoted(items));
        else
            setting.set(contents.values, static_cast<unsigned>(index));
        if (is_group_select(setting) && index >= 0)
            group_texts[setting.field == &Settings_values::out_group_2] = name;
    }
    if (!group_texts[0].isEmpty() && !group_texts[1].isEmpty()
        && contents.values.out_group_1 == contents.values.out_group_2)
        contents.faults << QStringLiteral("settings \"%1\" and \"%2\" are the same group; Group A and Group B "
                                          "must differ")
                               .arg(group_texts[0], group_texts[1]);
    return contents;
}

Contents load(const QString& path)
{
    QByteArray bytes;
    const QString unreadable = read_regular(path, bytes);
    if (!unreadable.isEmpty()) {
        Contents unread;
        unread.faults << QStringLiteral("cannot read %1: %2").arg(path, unreadable);
        return unread;
    }
    Contents contents = read(bytes);
    for (QString& fault : contents.faults)
        fault.prepend(path + QStringLiteral(": "));
    return contents;
}

QString model_fault(const Contents& contents, const QString& path, uint16_t device_id, const QString& port)
{
    if (device_id == contents.device_id)
        return QString();
    return QStringLiteral("%1 is for a %2; the box on %3 is a %4")
        .arg(path, status_texts::model(contents.device_id), port, status_texts::model(device_id));
}

Settings_values with_box(const Contents& contents, const Settings_values& box)
{
    Settings_values values = contents.values;
    for (const Setting_name* setting : contents.not_in_file)
        setting->set(values, setting->index(box));
    return values;
}

std::vector<Difference> differences(uint16_t device_id, const Settings_values& file, const Settings_values& box)
{
    std::vector<Difference> out;
    for (const Setting_name& setting : setting_names(device_id))
        if (setting.index(file) != setting.index(box))
            out.push_back({setting.name(), setting.text(file), setting.text(box)});
    return out;
}

} // namespace settings_file
