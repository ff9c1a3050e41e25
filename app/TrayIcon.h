#pragma once

#include <QIcon>
#include <QString>
#include <optional>

// The tray icon. A tray shows no text beside an icon, so the figure is drawn into the icon:
// white on a coloured badge, as large as the slot allows. Without a figure it shows the
// chart symbol. Painted at whatever size the tray asks for, so HiDPI panels get sharp pixels.
namespace TrayIcon {

// What fits in the icon: up to three digits as they are, larger counts shortened without
// rounding up (1234 -> "1.2k", 56789 -> "56k", 2500000 -> "2.5M"). Negative counts show as 0.
QString figureText(qint64 value);

QIcon make(std::optional<qint64> figure);

}  // namespace TrayIcon
