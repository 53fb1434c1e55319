#pragma once

#include <lcms2.h>

#include <memory>
#include <type_traits>

// Little CMS's profiles, transforms and tone curves, each freed by its own
// call when its owner goes: an exception between making one and handing it
// on leaks nothing. Include only where Little CMS is linked.
namespace CmsHandles {
struct CloseProfile {
    void operator()(cmsHPROFILE profile) const noexcept { cmsCloseProfile(profile); }
};
struct DeleteTransform {
    void operator()(cmsHTRANSFORM transform) const noexcept { cmsDeleteTransform(transform); }
};
struct FreeToneCurve {
    void operator()(cmsToneCurve* curve) const noexcept { cmsFreeToneCurve(curve); }
};
using Profile = std::unique_ptr<std::remove_pointer_t<cmsHPROFILE>, CloseProfile>;
using Transform = std::unique_ptr<std::remove_pointer_t<cmsHTRANSFORM>, DeleteTransform>;
using ToneCurve = std::unique_ptr<cmsToneCurve, FreeToneCurve>;
} // namespace CmsHandles
