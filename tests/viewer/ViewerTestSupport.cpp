#include "ViewerTestSupport.h"

TestSet::TestSet(int lower, int centric, int upper) {
    const int counts[] = {lower, centric, upper};
    paths.reserve(lower + centric + upper);
    for (int s = 0; s < 3; ++s)
        for (int i = 0; i < counts[s]; ++i)
            paths.push_back("/photos/s" + std::to_string(s + 1) + "-" + std::to_string(i) + ".jpg");
    std::size_t k = 0;
    for (int i = 0; i < lower; ++i)
        record.addFileName1(paths[k++].c_str());
    for (int i = 0; i < centric; ++i)
        record.addFileName2(paths[k++].c_str());
    for (int i = 0; i < upper; ++i)
        record.addFileName3(paths[k++].c_str());
}
