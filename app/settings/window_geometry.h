#pragma once
// Where the windows were: the main window's geometry and the viewer's position and size,
// kept in the settings store beside the settings. A value that is missing or of the wrong
// type reads as absent, and the window takes its design size and the platform's placement.
#include <optional>

#include "app/settings/settings_store.h"

#include <QByteArray>
#include <QPoint>
#include <QSize>

inline constexpr const char* kMainWindowGeometryValue = "MainWindowGeometry";
inline constexpr const char* kViewerPositionValue = "ViewerPosition";
inline constexpr const char* kViewerSizeValue = "ViewerSize";

struct StoredWindowPlaces {
    QByteArray MainWindow;  // QWidget::saveGeometry(); empty when none
    std::optional<QPoint> ViewerPosition;
    std::optional<QSize> ViewerSize;  // only once the user has sized a viewer
};

StoredWindowPlaces LoadWindowPlaces(const SettingsLocation& location = {});
// Returns "" on success, else the message of SaveSettings.
std::string SaveWindowPlaces(const StoredWindowPlaces& places, const SettingsLocation& location = {});
