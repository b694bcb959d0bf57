// Progressive scan scripts for building JPEG test files with libjpeg.
#pragma once

#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace testsupport {

// A valid progression that refines the DC and the first `refined` AC coefficients of every
// component bit by bit (11 scans each) and sends the others in one scan each: with 63 refined
// coefficients that is 704 scans per component.
inline std::vector<jpeg_scan_info> RefiningProgression(int components, int refined) {
    std::vector<jpeg_scan_info> scans;
    auto add = [&](int ci, int ss, int se, int ah, int al) {
        jpeg_scan_info s{};
        s.comps_in_scan = 1;
        s.component_index[0] = ci;
        s.Ss = ss;
        s.Se = se;
        s.Ah = ah;
        s.Al = al;
        scans.push_back(s);
    };
    for (int ci = 0; ci < components; ++ci) {
        add(ci, 0, 0, 0, 10);
        for (int al = 9; al >= 0; --al) add(ci, 0, 0, al + 1, al);
        for (int k = 1; k <= 63; ++k) {
            if (k > refined) {
                add(ci, k, k, 0, 0);
                continue;
            }
            add(ci, k, k, 0, 10);
            for (int al = 9; al >= 0; --al) add(ci, k, k, al + 1, al);
        }
    }
    return scans;
}

}  // namespace testsupport
