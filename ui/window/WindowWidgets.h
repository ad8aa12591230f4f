#pragma once

#include "core/Config.h"
#include "ui/window/Window.h"

#include <QElapsedTimer>
#include <QPointer>

class QDialog;
class QFrame;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QTimer;
class QVBoxLayout;

namespace vn {

class AiToast;
class BackgroundSurface;
class ConnectionForm;
class ConnectionBar;
class IconButton;
class MemoryReturn;
class ParameterGrip;
class StatusLed;
class StatusLine;
class UpdateDialog;
class UpdateService;

// The child widgets and timers of one window. Every pointer is owned by Qt's
// parent tree; this struct only keeps the handles the collaborators need.
struct Window::Widgets {
    BackgroundSurface* surface = nullptr;

    // Rail.
    QFrame* rail = nullptr;
    IconButton* sidebarToggle = nullptr;
    IconButton* settingsButton = nullptr;

    // Parameter sidebar.
    QFrame* sidebar = nullptr;
    QVBoxLayout* sidebarLayout = nullptr;
    QScrollArea* parameterScroll = nullptr;
    ParameterGrip* grip = nullptr;
    ConnectionForm* form = nullptr; // every control of the connection form
    StatusLed* connectionLed = nullptr;
    QLabel* connectionState = nullptr;

    // Content column.
    QWidget* content = nullptr;
    QWidget* tabHeader = nullptr;
    ConnectionBar* tabs = nullptr;
    IconButton* newPage = nullptr;
    IconButton* dock = nullptr; // torn-off windows only
    QStackedWidget* stack = nullptr;
    AiToast* toast = nullptr;

    // Status line.
    StatusLine* status = nullptr;
    UpdateService* updateService = nullptr; // root only
    MemoryReturn* memoryReturn = nullptr;    // root only: freed heap back to the system
    QPointer<UpdateDialog> updateDialog;     // made on the first click of the update button

    // Timers and clocks.
    QTimer* tickTimer = nullptr;
    QTimer* portTimer = nullptr;
    QTimer* sshConfigTimer = nullptr;
    QTimer* deviceRefresh = nullptr; // the port refresh that follows a device change
    QElapsedTimer auditClock;

    QPointer<QDialog> settingsDialog;

    bool portsListed = false; // set by the first port refresh
};

} // namespace vn
