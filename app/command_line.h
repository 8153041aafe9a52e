// The file named on the command line.
#pragma once

#include <QString>
#include <QStringList>

namespace kestrel::app {

// Everything after the program name is one path, taken as it stands (quotes included): the
// arguments are joined by single spaces, so a path the shell split at its spaces is whole again.
inline QString CommandLinePath(QStringList arguments) {
    if (!arguments.isEmpty()) arguments.removeFirst();
    return arguments.join(' ');
}

}  // namespace kestrel::app
