#include "app/settings/window_geometry.h"

#include <QSettings>
#include <QVariant>
#include <memory>

namespace {
std::unique_ptr<QSettings> OpenPlaces(const SettingsLocation& location) {
    if (!location.IniFile.empty())
        return std::make_unique<QSettings>(QString::fromStdString(location.IniFile), QSettings::IniFormat);
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganization,
                                       kSettingsApplication);
}
}  // namespace

StoredWindowPlaces LoadWindowPlaces(const SettingsLocation& location) {
    StoredWindowPlaces places;
    std::unique_ptr<QSettings> store = OpenPlaces(location);
    const QVariant main = store->value(kMainWindowGeometryValue);
    if (main.typeId() == QMetaType::QByteArray) places.MainWindow = main.toByteArray();
    const QVariant pos = store->value(kViewerPositionValue);
    if (pos.typeId() == QMetaType::QPoint) places.ViewerPosition = pos.toPoint();
    const QVariant size = store->value(kViewerSizeValue);
    if (size.typeId() == QMetaType::QSize && size.toSize().width() > 0 && size.toSize().height() > 0)
        places.ViewerSize = size.toSize();
    return places;
}

std::string SaveWindowPlaces(const StoredWindowPlaces& places, const SettingsLocation& location) {
    std::unique_ptr<QSettings> store = OpenPlaces(location);
    if (!store->isWritable()) return kCannotCreateSettingsMessage;
    if (!places.MainWindow.isEmpty()) store->setValue(kMainWindowGeometryValue, places.MainWindow);
    if (places.ViewerPosition) store->setValue(kViewerPositionValue, *places.ViewerPosition);
    if (places.ViewerSize) store->setValue(kViewerSizeValue, *places.ViewerSize);
    store->sync();
    return store->status() == QSettings::NoError ? std::string() : std::string(kCannotCreateSettingsMessage);
}
