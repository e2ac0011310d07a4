#pragma once

#include <QList>
#include <QString>

class QWidget;

namespace ui {

// Modal message boxes given by their text, title and a style value that is the
// sum of a button set and an icon. Tests queue the answers instead of clicking.
class MessageBox {
public:
    enum Style : int {
        OkOnly = 0,
        OkCancel = 1,
        YesNoCancel = 3,
        YesNo = 4,
        Critical = 16,
        Question = 32,
        Exclamation = 48,
        Information = 64,
        // Added to the sum: the second button is the default instead of the first.
        DefaultButton2 = 256,
    };
    enum Answer : int { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

    struct Shown {
        QString text;
        QString title;
        int style;
    };

    static inline const QString defaultTitle = QStringLiteral("Troopbook");

    // Shows the box and returns the answer; the first button is the default unless the style
    // says otherwise, Escape or closing the box answers Cancel where there is one.
    static Answer show(QWidget *parent, const QString &text, int style,
                       const QString &title = defaultTitle);

    // For tests: the next show() returns `answer` at once, without a box. Answers queue up.
    static void setNextAnswer(Answer answer);
    // For tests: from now on every box asked for is recorded, shown or answered from the queue.
    // The program itself keeps no record.
    static void startRecording();
    // For tests: the boxes recorded since the last call, oldest first.
    static QList<Shown> takeShown();
    static bool hasPendingAnswers();
};

} // namespace ui
