#include "CodePage.h"

namespace platform {

TCodePage DetectCodePage(const std::vector<std::string_view>& legacy,
                         const std::vector<std::string_view>& unicode) {
    (void)unicode;
    (void)legacy;
    return TCodePage::Gbk;
}

} // namespace platform
