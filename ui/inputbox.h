#pragma once

#include <QList>
#include <QString>

#include <optional>

class QWidget;

namespace ui {

// A modal box that asks for one line of text. Tests queue the answers instead of typing.
class InputBox {
public:
    struct Asked {
        QString title;
        QString prompt;
        QString text; // what the box offered
    };

    // The text the user confirmed, or nullopt when the box was cancelled.
    static std::optional<QString> ask(QWidget *parent, const QString &title, const QString &prompt,
                                      const QString &text);
    // The same for a secret: what is typed shows as dots, and the box offers nothing.
    static std::optional<QString> askSecret(QWidget *parent, const QString &title,
                                            const QString &prompt);

    // For tests: the next ask() returns `answer` at once, without a box (nullopt cancels).
    // Answers queue up.
    static void setNextAnswer(std::optional<QString> answer);
    // For tests: every box asked for, shown or answered from the queue, oldest first.
    static QList<Asked> takeAsked();
};

} // namespace ui
