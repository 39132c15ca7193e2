#include "optimizers/optimization_tools.h"

#include <cassert>

namespace pimo::optimizers {

const TOptimizationTool& TOptimizationTools::At(int index) const {
    assert(Holds(index));
    return m_tools[static_cast<std::size_t>(index)];
}

void TOptimizationTools::Remove(int index) {
    if (Holds(index)) m_tools.erase(m_tools.begin() + index);
}

void TOptimizationTools::Replace(int index, const TOptimizationTool& tool) {
    if (Holds(index)) m_tools[static_cast<std::size_t>(index)] = tool;
}

}  // namespace pimo::optimizers
