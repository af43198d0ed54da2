// The benchmark helpers' entry point: "HELPER COMMAND ARGUMENTS…". A command that throws prints
// its error and ends the helper with 1; an unknown command or a wrong count of arguments prints
// the usage and ends it with 2.
#pragma once

#include "Recording.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <map>

namespace Bench {

struct Command {
    int minArguments;
    int maxArguments;
    std::function<int(const QStringList&)> run;
};

// The benchmark's directory taken as the app takes a recording's: private to the user, held.
inline std::shared_ptr<WorkDirectory> workDirectory(const QString& dir) {
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    std::shared_ptr<WorkDirectory> opened = WorkDirectory::open(dir);
    if (!opened) {
        throw std::runtime_error("cannot hold " + dir.toStdString());
    }
    return opened;
}
inline std::shared_ptr<Recording> recording(const QString& dir) {
    return std::make_shared<Recording>(workDirectory(dir));
}

inline int dispatch(int argc, char* argv[], const std::map<QString, Command>& commands, const char* usage) {
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments().mid(1);
    const auto found = args.isEmpty() ? commands.end() : commands.find(args.front());
    if (found != commands.end() && args.size() - 1 >= found->second.minArguments &&
        args.size() - 1 <= found->second.maxArguments) {
        try {
            return found->second.run(args.mid(1));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
            return 1;
        }
    }
    std::fprintf(stderr, "usage: %s\n", usage);
    return 2;
}

} // namespace Bench
