// Runs one of the window's test classes, named by the first argument (all of them without one).
// The application is the program's own, so its top-level failure handler is under test too.
#include "WindowFixture.h"

#include "uApplication.h"

#include <QTest>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    // The dialogs' folders go to settings of this run, not to the user's.
    const TempDir config;
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    TApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    std::vector<char*> args(argv, argv + argc);
    std::string only;
    if (args.size() > 1 && args[1][0] != '-') {
        only = args[1];
        args.erase(args.begin() + 1);
    }
    int failed = 0;
    bool found = false;
    for (auto& [name, make] : TestClasses()) {
        if (!only.empty() && only != name) continue;
        found = true;
        std::unique_ptr<QObject> test = make();
        failed += QTest::qExec(test.get(), static_cast<int>(args.size()), args.data());
    }
    if (!found) {
        std::fprintf(stderr, "no test class %s\n", only.c_str());
        return 2;
    }
    return failed;
}
