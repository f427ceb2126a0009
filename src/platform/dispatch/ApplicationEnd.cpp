#include "platform/dispatch/ApplicationEnd.h"

#include <utility>
#include <vector>

namespace dispatch {

namespace {
std::vector<std::function<void()>>& steps() {
    static std::vector<std::function<void()>> list;
    return list;
}
}  // namespace

void atApplicationEnd(std::function<void()> step) {
    if (step) steps().push_back(std::move(step));
}

void runApplicationEndSteps() {
    while (!steps().empty()) {
        auto step = std::move(steps().back());
        steps().pop_back();
        step();
    }
}

}  // namespace dispatch
