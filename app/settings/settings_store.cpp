#include "app/settings/settings_store.h"

#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include "graphics/errors.h"

namespace {

std::unique_ptr<QSettings> OpenStore(const SettingsLocation& location) {
    if (!location.IniFile.empty())
        return std::make_unique<QSettings>(QString::fromStdString(location.IniFile), QSettings::IniFormat);
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganization,
                                       kSettingsApplication);
}

std::string InvalidType(const char* name) { return FormatMessage("Invalid data type for '%s'", name); }

// A 32-bit integer value; text that is a decimal integer counts (the INI file stores text).
std::optional<int> ReadInteger(const QVariant& value) {
    bool ok = false;
    int result = 0;
    switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong: {
            const qlonglong wide = value.toLongLong(&ok);
            if (!ok || wide < INT32_MIN || wide > INT32_MAX) return std::nullopt;
            return static_cast<int>(wide);
        }
        case QMetaType::QString:
        case QMetaType::QByteArray: result = value.toString().trimmed().toInt(&ok); break;
        default: return std::nullopt;
    }
    if (!ok) return std::nullopt;
    return result;
}

std::optional<std::string> ReadString(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::QString:
        case QMetaType::QByteArray: return value.toString().toStdString();
        // An unquoted comma in a hand-edited INI file splits the text into a list.
        case QMetaType::QStringList: return value.toStringList().join(QStringLiteral(",")).toStdString();
        default: return std::nullopt;
    }
}

// The unit lists hold "px" and "%"; a stored text selects the item it equals without regard
// to case, anything else leaves no item selected.
std::string MatchUnit(const std::string& text) {
    const QString t = QString::fromStdString(text);
    if (t.compare(QStringLiteral("px"), Qt::CaseInsensitive) == 0) return kUnitPixels;
    if (t == QStringLiteral("%")) return kUnitPercent;
    return {};
}

}  // namespace

std::string DefaultWorkDir() {
    // The application's cache location under the store's own organization and name, whatever
    // the running program calls itself (the window, imbrix-batch, a test).
    QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty()) cache = QStringLiteral("/tmp");
    return WithTrailingSeparator(cache.toStdString()) + kSettingsOrganization + "/" + kSettingsApplication + "/results/";
}

std::string MakeWorkDir(const std::string& folder) {
    std::error_code ec;
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (std::filesystem::is_directory(path, ec)) return {};
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) {
        std::filesystem::create_directories(parent, ec);
        if (ec) return ec.message();
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return std::strerror(errno);
    if (!std::filesystem::is_directory(path, ec)) return "not a folder";
    return {};
}

LoadedSettings LoadSettings(const SettingsLocation& location) {
    LoadedSettings loaded;
    loaded.Record = DefaultSettings();
    loaded.Record.WorkDir = DefaultWorkDir();
    std::unique_ptr<QSettings> store = OpenStore(location);
    if (store->allKeys().isEmpty()) return loaded;  // no stored settings: first run

    TSettingsRecord& r = loaded.Record;
    ScaleChoice& c = loaded.Controls;
    auto readInt = [&](const char* name, auto&& apply) {
        if (!store->contains(name)) return;
        if (std::optional<int> v = ReadInteger(store->value(name)))
            apply(*v);
        else
            loaded.Errors.push_back(InvalidType(name));
    };
    auto readText = [&](const char* name, auto&& apply) {
        if (!store->contains(name)) return;
        if (std::optional<std::string> v = ReadString(store->value(name)))
            apply(*v);
        else
            loaded.Errors.push_back(InvalidType(name));
    };

    readText("WorkDir", [&](const std::string& v) {
        // An empty folder would put results into the current folder of the moment.
        if (!v.empty()) r.WorkDir = WithTrailingSeparator(v);
    });
    readInt("OutputType", [&](int v) { r.OutputType = v; });
    readInt("JPEGQuality", [&](int v) { r.JPEGQuality = v; });
    readInt("Resampler", [&](int v) { r.Resampler = v; });
    readInt("UseIntViewer", [&](int v) { r.UseIntViewer = v != 0; });
    readInt("PreserveAspectRatio", [&](int v) { r.PreserveAspectRatio = v != 0; });
    readText("Prefix", [&](const std::string& v) { r.Prefix = v; });
    readText("Suffix", [&](const std::string& v) { r.Suffix = v; });
    readInt("StopAtFirstError", [&](int v) { r.StopAtFirstError = v != 0; });
    readInt("AutoOrient", [&](int v) { r.AutoOrient = v != 0; });
    readInt("MaxJPEGKB", [&](int v) { r.MaxJPEGKB = v > 0 ? v : 0; });
    readInt("Rotate", [&](int v) { c.RotationIndex = v >= 0 && v <= 3 ? v : -1; });

    if (store->contains("Scale")) {
        readText("Scale", [&](const std::string& v) {
            for (ScaleMode m : {ScaleMode::FullSize, ScaleMode::HalfSize, ScaleMode::QuarterSize, ScaleMode::Special})
                if (v == ScaleModeName(m)) {
                    c.Scale = m;
                    break;
                }
        });
        // Read whether present or not: a missing value is empty text.
        auto special = [&](const char* name) -> std::string {
            if (!store->contains(name)) return {};
            if (std::optional<std::string> v = ReadString(store->value(name))) return *v;
            loaded.Errors.push_back(InvalidType(name));
            return {};
        };
        c.WidthText = special("SpecialWidth");
        c.HeightText = special("SpecialHeight");
        // A unit that was never stored is pixels, as on the first run.
        auto unit = [&](const char* name) { return store->contains(name) ? MatchUnit(special(name)) : std::string(kUnitPixels); };
        c.WidthUnits = unit("SpecialWidthUnits");
        c.HeightUnits = unit("SpecialHeightUnits");
    }
    return loaded;
}

std::string SaveSettings(const TSettingsRecord& record, const ScaleChoice& controls, const SettingsLocation& location) {
    std::unique_ptr<QSettings> store = OpenStore(location);
    if (!store->isWritable()) return kCannotCreateSettingsMessage;
    auto text = [](const std::string& s) { return QString::fromStdString(s); };
    store->setValue("WorkDir", text(record.WorkDir));
    store->setValue("OutputType", record.OutputType);
    store->setValue("JPEGQuality", record.JPEGQuality);
    store->setValue("Resampler", record.Resampler);
    store->setValue("UseIntViewer", record.UseIntViewer ? 1 : 0);
    store->setValue("PreserveAspectRatio", record.PreserveAspectRatio ? 1 : 0);
    store->setValue("Prefix", text(record.Prefix));
    store->setValue("Suffix", text(record.Suffix));
    store->setValue("StopAtFirstError", record.StopAtFirstError ? 1 : 0);
    store->setValue("AutoOrient", record.AutoOrient ? 1 : 0);
    store->setValue("MaxJPEGKB", record.MaxJPEGKB > 0 ? record.MaxJPEGKB : 0);
    store->setValue("Rotate", controls.RotationIndex);
    store->setValue("Scale", QString::fromLatin1(ScaleModeName(controls.Scale)));
    store->setValue("SpecialWidth", text(controls.WidthText));
    store->setValue("SpecialHeight", text(controls.HeightText));
    store->setValue("SpecialWidthUnits", text(controls.WidthUnits));
    store->setValue("SpecialHeightUnits", text(controls.HeightUnits));
    store->sync();
    if (store->status() != QSettings::NoError) return kCannotCreateSettingsMessage;
    return {};
}
