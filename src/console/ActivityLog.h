// The activity log box: a multi-line text box the system appends whole lines to and the
// operator may type into.
#pragma once

#include <QPlainTextEdit>
#include <QString>

namespace vostrel {

class ActivityLog : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit ActivityLog(QWidget* parent = nullptr);

    // Adds `addition` after the last character of the whole text (wherever the operator's
    // caret stands), in one step with no yield, and shows the first line again. Costs time in
    // proportion to the addition, not to the log.
    void Append(const QString& addition);
    // Replaces the whole text.
    void SetText(const QString& text);
    // The whole text, line breaks as CR LF.
    QString Text() const;
};

}  // namespace vostrel
