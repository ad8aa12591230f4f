#include "ui/kit/StyleSheetTemplate.h"

namespace vn {

namespace {

// Grouped in the order a reader meets the widgets: base text, windows, control
// panel, serial monitor, sliders, agent cards, the main-window frame, labels,
// inputs, search box, tab-title editor, combo lists, spin boxes, buttons,
// progress bars, unit presets, text edits, font dialog, trees, tabs, menus and
// pop-ups, check boxes, scrolling, status bar and tool tips.
constexpr char templateText[] = R"qss(QWidget { color: $text; font-family: "$font"; font-size: 14px; font-weight: 400; }
QMainWindow, QDialog, QWidget#root { background: $bg; }
QWidget#serialControlEditor, QScrollArea#controlEditorScroll, QWidget#controlEditorContent, QWidget#controlEditorViewport { background: $bg; border: none; }
QWidget#serialControlPanel { background: $panel; }
QScrollArea#controlScroll, QWidget#controlViewport, QWidget#controlCanvas { background: transparent; border: none; }
QFrame#controlCanvasFrame { background: $side; border: 1px solid $line; border-radius: 12px; }
QFrame#controlToolbar { background: $panel; border: 1px solid $line; border-radius: 12px; }
QLabel#controlGroupLabel { color: $muted; font-size: 12px; font-weight: 600; }
QPushButton#addSerialControl { background: $accent; color: $onaccent; border: 1px solid $edge; padding: 6px 14px; font-weight: 600; }
QPushButton#addSerialControl:hover, QPushButton#addSerialControl:pressed { background: $accent; color: $onaccent; }
QPushButton#controlMonitorToggle:checked { color: $accent; border: 1px solid $accent; background: $panel; }
QFrame#serialControlCard { background: $panel; border: 1px solid $line; border-radius: 12px; }
QWidget#controlDragHandle, QFrame#controlDragHandle, QLabel#controlDragHandle { background: $side; border: none; border-radius: 6px; }
QLabel#controlCardTitle { font-weight: 600; }
QLabel#controlKindBadge { color: $muted; background: $panel; border: 1px solid $line; border-radius: 3px; padding: 1px 5px; font-size: 11px; }
QFrame#serialControlCard QPushButton, QFrame#serialControlCard QToolButton, QFrame#serialControlCard QAbstractSpinBox, QFrame#serialControlCard QComboBox { min-height: 22px; }
QPushButton#sendControl { background: $hover; border: 1px solid $edge; }
QPushButton#sendControl:disabled { background: $side; color: $muted; border: 1px solid $line; }
QPushButton#controlPreviewToggle, QToolButton#controlPreviewToggle { color: $muted; }
QPushButton#controlLayerMenu::menu-indicator, QToolButton#controlLayerMenu::menu-indicator { image: none; width: 0px; }
QLabel#controlValidation { color: $red; }
QDialog#serialMonitorDialog { background: $bg; }
QLabel#serialMonitorSource, QLabel#serialMonitorConnection { font-weight: 600; }
QLabel#serialMonitorLegend, QLabel#serialMonitorStatistics { color: $muted; font-size: 12px; }
QLabel#serialMonitorMessage { color: $muted; font-size: 13px; }
QWidget#serialMonitorLog { background: $panel; }
QPushButton#serialMonitorSend { background: $accent; color: $onaccent; border: 1px solid $edge; padding: 6px 16px; }
QPushButton#serialMonitorSend:hover, QPushButton#serialMonitorSend:pressed { background: $accent; color: $onaccent; }
QSlider { min-height: 24px; background: transparent; outline: none; }
QSlider::groove:horizontal { height: 6px; background: $line; border: none; border-radius: 3px; }
QSlider::sub-page:horizontal { background: $accent; border-radius: 3px; }
QSlider::handle:horizontal { width: 12px; margin: -5px 0px; background: $panel; border: 2px solid $edge; border-radius: 8px; }
QSlider::handle:horizontal:hover, QSlider::handle:horizontal:focus { background: $hover; border: 2px solid $accent; }
QSlider::handle:horizontal:pressed { background: $accent; border: 2px solid $accent; }
QFrame#agentCard { background: $panel; border: 1px solid $line; border-radius: 12px; }
QLabel#agentTitle { font-size: 14px; font-weight: 600; }
QLabel#agentLogo { background: transparent; border: none; }
QFrame#sidebar { background: $side; border: none; border-right: 1px solid $line; }
QFrame#rail { background: $rail; border: none; border-right: 2px solid $rail; }
QWidget#workspace, QWidget#page { background: $panel; }
QWidget#tabHeader { background: $bg; border: none; }
QWidget#monitorToolbar { background: $side; border: none; border-bottom: 1px solid $line; }
QWidget#sender { background: $side; border: none; border-top: 1px solid $line; }
QLabel { background: transparent; }
QLabel#muted { color: $muted; font-size: 13px; }
QLabel#section { font-size: 15px; font-weight: 600; padding: 2px 0px; }
QLabel#brand { font-size: 17px; font-weight: 600; }
QLabel#connectionState { color: $muted; font-size: 13px; }
QLabel#themeTitle, QLabel#aboutTitle { font-size: 18px; font-weight: 600; }
QLabel#aboutVersion { color: $muted; font-size: 13px; }
QLabel#aboutSection { font-size: 15px; font-weight: 600; }
QWidget#pixelBrand { background: $rail; border: 1px solid $edge; border-radius: 12px; }
QLabel#brandTitle { color: #f6f4e8; font-family: "Segoe UI"; font-size: 23px; font-weight: 600; }
QLabel#brandSubtitle { color: #d7dfc4; font-size: 13px; }
QLabel#senderLabel { color: $muted; font-size: 13px; }
QLabel#connectionHint { color: $muted; font-size: 12px; }
QLineEdit, QComboBox, QAbstractSpinBox { background: $panel; border: 1px solid $line; border-radius: 8px; padding: 6px 10px; min-height: 24px; selection-background-color: $accent; selection-color: $onaccent; }
QLineEdit:hover, QComboBox:hover, QAbstractSpinBox:hover { border: 1px solid $edge; }
QLineEdit:focus, QComboBox:focus, QAbstractSpinBox:focus { border: 1px solid $accent; }
QLineEdit:disabled, QComboBox:disabled, QAbstractSpinBox:disabled { color: $muted; }
QComboBox { padding-right: 28px; combobox-popup: 0; }
QComboBox#protocolSelector { background: $hover; border: 1px solid $edge; padding: 8px 28px 8px 10px; }
QLineEdit#searchBox { padding: 5px 8px; background: $panel; }
QLineEdit#searchBox[invalidFilter="true"] { border: 1px solid $red; }
QToolButton[searchOption="true"] { padding: 0px; min-height: 0px; border-radius: 4px; font-family: "Segoe UI"; font-size: 12px; color: $muted; }
QToolButton[searchOption="true"]:hover { background: $hover; color: $text; }
QToolButton[searchOption="true"]:checked { background: $hover; color: $accent; border: 1px solid $accent; }
QLineEdit#tabTitleEditor, QLineEdit#tabTitleEditor:focus, QLineEdit#tabTitleEditor:hover { background: $panel; border: none; border-bottom: 1px solid $edge; border-radius: 0px; padding: 0px 3px; min-height: 0px; }
QComboBox::drop-down { subcontrol-origin: padding; subcontrol-position: top right; width: 28px; border: none; }
QComboBox::down-arrow { image: none; width: 0px; height: 0px; }
QComboBox QAbstractItemView { background: $panel; border: none; padding: 4px; outline: 0px; selection-background-color: $hover; selection-color: $text; }
QComboBox QAbstractItemView::item { min-height: 30px; padding: 4px 8px; margin: 2px; border-radius: 5px; }
QComboBox QAbstractItemView::item:selected, QComboBox QAbstractItemView::item:hover { background: $hover; color: $text; }
QComboBox QLineEdit { border: none; padding: 0px; background: transparent; }
QAbstractSpinBox { padding-right: 26px; }
QAbstractSpinBox::up-button, QAbstractSpinBox::down-button { subcontrol-origin: border; width: 24px; border: none; background: transparent; }
QAbstractSpinBox::up-button { subcontrol-position: top right; }
QAbstractSpinBox::down-button { subcontrol-position: bottom right; }
QAbstractSpinBox::up-arrow { image: url(:/icons/chevron-up.svg); width: 10px; height: 6px; }
QAbstractSpinBox::down-arrow { image: url(:/icons/chevron-down.svg); width: 10px; height: 6px; }
QPushButton, QToolButton { outline: none; background: transparent; border: 1px solid transparent; border-radius: 8px; padding: 6px 12px; min-height: 24px; }
QPushButton:hover, QToolButton:hover { color: $accent; }
QPushButton:checked { color: $accent; font-weight: 600; }
QPushButton[keyboardFocus="true"]:focus, QToolButton[keyboardFocus="true"]:focus { color: $accent; }
QPushButton:pressed, QToolButton:pressed { color: $text; }
QPushButton:disabled, QToolButton:disabled { color: $muted; }
QPushButton[action="applyScript"] { font-weight: 600; }
QPushButton#primary, QPushButton#releaseHistoryDownload { background: $accent; color: $onaccent; border: 1px solid $edge; padding: 6px 16px; }
QPushButton#primary:hover, QPushButton#primary:pressed, QPushButton#primary[keyboardFocus="true"]:focus, QPushButton#releaseHistoryDownload:hover, QPushButton#releaseHistoryDownload:pressed, QPushButton#releaseHistoryDownload[keyboardFocus="true"]:focus { background: $accent; color: $onaccent; border: 1px solid $edge; }
QPushButton#primary:disabled, QPushButton#releaseHistoryDownload:disabled { background: $line; color: $muted; border: 1px solid $edge; }
QPushButton#outline, QPushButton[variant="outline"] { color: $text; border: 1px solid $line; background: $panel; }
QPushButton#outline:hover, QPushButton[variant="outline"]:hover, QPushButton#outline[keyboardFocus="true"]:focus, QPushButton[variant="outline"][keyboardFocus="true"]:focus { color: $accent; border: 1px solid $accent; }
QPushButton#outline:disabled, QPushButton[variant="outline"]:disabled { color: $muted; border: 1px solid $line; }
QPushButton#updateButton { color: $accent; border: none; padding: 1px 5px; min-height: 18px; font-weight: 600; }
QPushButton#updateButton:hover { color: $text; }
QPushButton#updateButton:pressed { color: $muted; }
QProgressBar#updateProgress, QProgressBar#updateDialogProgress { border: 1px solid $edge; border-radius: 6px; background: $panel; color: $text; }
QProgressBar#updateProgress::chunk, QProgressBar#updateDialogProgress::chunk { background: $accent; border-radius: 5px; }
QProgressBar#updateDialogProgress { min-height: 20px; text-align: center; }
QToolButton[unitPreset="true"] { background: $panel; border: 1px solid $line; padding: 2px 8px; min-height: 22px; }
QToolButton[unitPreset="true"]:hover { background: $hover; border: 1px solid $accent; }
QPlainTextEdit, QTextEdit { border: 1px solid $edge; border-radius: 8px; background: $panel; padding: 8px; selection-background-color: $accent; selection-color: $onaccent; }
QTextEdit#monitor { border: none; padding: 16px 18px; }
QFontDialog { background: $bg; }
QFontDialog QListView { background: $panel; border: 1px solid $line; border-radius: 6px; }
QTreeWidget { border-radius: 8px; padding: 4px; border: 1px solid $line; background: $panel; alternate-background-color: $side; }
QTreeWidget::item { padding: 6px; min-height: 24px; }
QTreeWidget::item:selected { background: $hover; color: $text; }
QHeaderView::section { background: $side; border: none; border-bottom: 1px solid $line; padding: 10px 8px; color: $muted; }
QTabWidget::pane { border: none; border-radius: 8px; background: $panel; padding: 6px; }
QTabWidget[leadingTabSelected="true"]::pane { border-top-left-radius: 0px; }
QTabBar::tab { background: transparent; padding: 10px 13px; margin: 2px 6px 0px; border-top-left-radius: 6px; border-top-right-radius: 6px; border-bottom-left-radius: 0px; border-bottom-right-radius: 0px; color: $muted; }
QTabBar::tab:hover { background: $hover; color: $text; }
QTabBar::tab:selected { background: $panel; color: $text; }
QTabBar#connections::tab { padding: 10px 11px; }
QTabWidget QTabBar::tab { margin-left: 0px; margin-right: 12px; }
QTabBar::scroller { width: 48px; }
QTabBar QToolButton { background: $side; border-radius: 5px; padding: 0px; min-height: 0px; }
vn--TearTabBar { qproperty-pageColor: $panel; }
QMenu, QFrame[roundedPopup="true"] { background: $panel; border: 1px solid $line; border-radius: 10px; padding: 5px; }
QMenu::item { padding: 10px 28px 10px 16px; border-radius: 6px; background: transparent; }
QMenu::item:selected { background: $hover; color: $text; }
QMenu::item:disabled { color: $muted; }
QMenu::separator { height: 1px; background: $line; margin: 5px 8px; }
QMenu::indicator { width: 18px; height: 18px; left: 8px; }
QMenu::indicator:checked { image: url(:/icons/check.svg); background: $accent; border: 1px solid $edge; border-radius: 4px; }
QCheckBox { spacing: 7px; background: transparent; }
QCheckBox::indicator { width: 16px; height: 16px; border-radius: 4px; border: 1px solid $edge; background: $panel; }
QCheckBox::indicator:hover { border: 1px solid $accent; }
QCheckBox::indicator:checked { border: 1px solid $text; background: $accent; image: url(:/icons/check.svg); }
QCheckBox[animatedCheck="true"]::indicator, QCheckBox[animatedCheck="true"]::indicator:unchecked, QCheckBox[animatedCheck="true"]::indicator:checked, QCheckBox[animatedCheck="true"]::indicator:indeterminate { border: 1px solid transparent; background: transparent; image: none; }
QScrollArea { background: transparent; border: none; }
QScrollArea#dialogContentScroll, QWidget#dialogContent { background: transparent; }
QScrollBar:vertical { background: $side; width: 11px; margin: 0px; border: none; }
QScrollBar:horizontal { background: $side; height: 11px; margin: 0px; border: none; }
QScrollBar::handle { background: $line; border-radius: 5px; }
QScrollBar::handle:vertical { min-height: 30px; }
QScrollBar::handle:horizontal { min-width: 30px; }
QScrollBar::handle:hover { background: $muted; }
QScrollBar::add-line, QScrollBar::sub-line { width: 0px; height: 0px; border: none; background: transparent; }
QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }
QStatusBar { background: $side; color: $muted; border-top: 1px solid $line; }
QStatusBar::item { border: none; }
QStatusBar QLabel { color: $muted; }
QToolTip { background: $panel; color: $text; border: 1px solid $line; border-radius: 6px; padding: 6px; }
)qss";

} // namespace

QString styleSheetTemplate()
{
    return QString::fromUtf8(templateText, sizeof(templateText) - 1);
}

} // namespace vn
