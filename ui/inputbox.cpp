#include "inputbox.h"

#include <QInputDialog>
#include <QLineEdit>

namespace ui {
namespace {

QList<std::optional<QString>> &queuedAnswers() {
    static QList<std::optional<QString>> answers;
    return answers;
}

QList<InputBox::Asked> &askedBoxes() {
    static QList<InputBox::Asked> asked;
    return asked;
}

std::optional<QString> askFor(QWidget *parent, const QString &title, const QString &prompt,
                              const QString &text, QLineEdit::EchoMode echo) {
    askedBoxes().append({title, prompt, text});
    if (!queuedAnswers().isEmpty())
        return queuedAnswers().takeFirst();
    QInputDialog box(parent);
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setTextValue(text);
    box.setInputMode(QInputDialog::TextInput);
    box.setTextEchoMode(echo);
    // Room for a whole address without scrolling.
    box.resize(box.fontMetrics().averageCharWidth() * 70, box.sizeHint().height());
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    return box.textValue();
}

} // namespace

std::optional<QString> InputBox::ask(QWidget *parent, const QString &title, const QString &prompt,
                                     const QString &text) {
    return askFor(parent, title, prompt, text, QLineEdit::Normal);
}

std::optional<QString> InputBox::askSecret(QWidget *parent, const QString &title,
                                           const QString &prompt) {
    return askFor(parent, title, prompt, QString(), QLineEdit::Password);
}

void InputBox::setNextAnswer(std::optional<QString> answer) {
    queuedAnswers().append(std::move(answer));
}

QList<InputBox::Asked> InputBox::takeAsked() {
    return std::exchange(askedBoxes(), {});
}

} // namespace ui
