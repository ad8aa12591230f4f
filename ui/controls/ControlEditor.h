#pragma once

#include <QDialog>
#include <QJsonArray>
#include <QJsonObject>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QDoubleSpinBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

namespace vn {

// The modal editor "控件与发送格式" of one control: name, key, group, range,
// fixed value or options, packet format and template, encoding, line ending
// and auto-send. It checks the entries on every edit and shows the packet the
// control would send now; "保存" is enabled only while everything is valid.
// It works on a copy of the record; keys it does not edit pass through.
class ControlEditor : public QDialog {
    Q_OBJECT
public:
    ControlEditor(const QJsonObject& record, const QJsonArray& groups, const QString& activeGroup,
                  QWidget* parent = nullptr);

    // The record the editor would save now.
    QJsonObject collect() const;
    // The id of the group chosen in "所属控件组".
    QString targetGroup() const;
    // Validates, shows the preview or the message, enables "保存"; returns the message.
    QString check();

private:
    QDoubleSpinBox* numberBox(QFormLayout* form, const QString& key, const QString& label);

    QJsonObject m_copy;
    QJsonArray m_groups;
    QString m_activeGroup;
    QString m_type;
    QLineEdit* m_title = nullptr;
    QLineEdit* m_key = nullptr;
    QComboBox* m_group = nullptr;
    QDoubleSpinBox* m_minimum = nullptr;
    QDoubleSpinBox* m_maximum = nullptr;
    QDoubleSpinBox* m_step = nullptr;
    QSpinBox* m_decimals = nullptr;
    QLineEdit* m_buttonValue = nullptr;
    QPlainTextEdit* m_options = nullptr;
    QComboBox* m_format = nullptr;
    QPlainTextEdit* m_pattern = nullptr;
    QComboBox* m_encoding = nullptr;
    QComboBox* m_newline = nullptr;
    QCheckBox* m_autoSend = nullptr;
    QLabel* m_preview = nullptr;
    QLabel* m_validation = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
};

} // namespace vn
