#pragma once

#include <QJsonObject>
#include <QList>
#include <QRegularExpression>
#include <QString>

namespace vn {

// The line filter shared by the log views, the filter boxes and the agents'
// search: plain text, whole words, regular expressions and `&&`/`||`
// expressions. A copyable value; the compiled expressions travel with it.
// Criteria a user typed never throw: a filter that does not compile carries
// its reason in `error` and lets every line through.
struct SearchFilter {
    QString text;
    bool case_sensitive = false;
    bool whole_word = false;
    bool regex = false;
    bool logical = false;

    QString error;
    // An OR of ANDs: a line matches when every expression of one group does.
    QList<QList<QRegularExpression>> groups;

    // Rebuilds `error` and `groups` from the five criteria fields.
    void compile();
    bool matches(const QString& line) const;

    QJsonObject settings() const;
    void restore(const QJsonObject& json);
};

} // namespace vn
