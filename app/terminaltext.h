#pragma once

#include <QString>
#include <QStringView>

#include <cstdio>

namespace app {

// `text` made safe to print on a terminal or into a pipe, one line that reads as the text did:
// a backslash shows as "\\", line feed, carriage return and tab as "\n", "\r" and "\t", other
// C0 controls and DEL as "\xNN", and the C1 controls, the line and paragraph separators, the
// bidirectional controls and unpaired surrogates as "\u{NNNN}". No character of a file, a
// server or a path can then move the cursor, retitle the terminal, start a new line, reorder
// what follows or cut the output short.
QString escapeForTerminal(QStringView text);

// Prints `line` escaped and a line feed: every text a command-line option prints goes out
// through here, to standard output or standard error.
void printLine(std::FILE *stream, QStringView line);

} // namespace app
