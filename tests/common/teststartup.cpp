// What every test of the windows and the network code sets up before its first test: the start
// the program gives itself, and a record of the dialogs shown.
#include "ui/commondialog.h"
#include "ui/messagebox.h"

#include <QtGlobal>

#include <csignal>

namespace {

void startTest() {
    // As the program's main() does: a server hanging up must not end the test.
    std::signal(SIGPIPE, SIG_IGN);
    ui::MessageBox::startRecording();
    ui::CommonDialog::startRecording();
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(startTest)
