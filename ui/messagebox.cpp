#include "messagebox.h"

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace ui {
namespace {

QList<MessageBox::Answer> &queuedAnswers() {
    static QList<MessageBox::Answer> answers;
    return answers;
}

QList<MessageBox::Shown> &shownBoxes() {
    static QList<MessageBox::Shown> shown;
    return shown;
}

bool recording = false;

QMessageBox::Icon iconFor(int style) {
    switch (style & 0x70) {
    case MessageBox::Critical:
        return QMessageBox::Critical;
    case MessageBox::Question:
        return QMessageBox::Question;
    case MessageBox::Exclamation:
        return QMessageBox::Warning;
    case MessageBox::Information:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

QList<MessageBox::Answer> buttonsFor(int style) {
    switch (style & 0x7) {
    case MessageBox::OkCancel:
        return {MessageBox::Ok, MessageBox::Cancel};
    case MessageBox::YesNoCancel:
        return {MessageBox::Yes, MessageBox::No, MessageBox::Cancel};
    case MessageBox::YesNo:
        return {MessageBox::Yes, MessageBox::No};
    default:
        return {MessageBox::Ok};
    }
}

QMessageBox::StandardButton standardButton(MessageBox::Answer answer) {
    switch (answer) {
    case MessageBox::Cancel:
        return QMessageBox::Cancel;
    case MessageBox::Yes:
        return QMessageBox::Yes;
    case MessageBox::No:
        return QMessageBox::No;
    case MessageBox::Ok:
        break;
    }
    return QMessageBox::Ok;
}

} // namespace

MessageBox::Answer MessageBox::show(QWidget *parent, const QString &text, int style,
                                    const QString &title) {
    if (recording)
        shownBoxes().append({text, title, style});
    if (!queuedAnswers().isEmpty())
        return queuedAnswers().takeFirst();

    // On the heap: should the parent be deleted while the box is open, the box goes with it.
    const QPointer<QMessageBox> box =
        new QMessageBox(iconFor(style), title, text, QMessageBox::NoButton, parent);
    const QList<Answer> answers = buttonsFor(style);
    for (Answer a : answers)
        box->addButton(standardButton(a));
    const qsizetype defaultIndex = (style & DefaultButton2) && answers.size() > 1 ? 1 : 0;
    box->setDefaultButton(standardButton(answers[defaultIndex]));
    if (answers.contains(Cancel))
        box->setEscapeButton(standardButton(Cancel));
    const auto clicked = QMessageBox::StandardButton(box->exec());
    delete box.data();
    for (Answer a : answers) {
        if (standardButton(a) == clicked)
            return a;
    }
    // Ended without a button, by its parent going or the program ending: what Escape answers,
    // never a Yes nobody gave.
    if (answers.contains(Cancel))
        return Cancel;
    return answers.contains(No) ? No : answers.first();
}

void MessageBox::setNextAnswer(Answer answer) {
    queuedAnswers().append(answer);
}

void MessageBox::startRecording() {
    recording = true;
}

QList<MessageBox::Shown> MessageBox::takeShown() {
    return std::exchange(shownBoxes(), {});
}

bool MessageBox::hasPendingAnswers() {
    return !queuedAnswers().isEmpty();
}

} // namespace ui
