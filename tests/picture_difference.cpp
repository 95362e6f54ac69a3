// picture_difference A.png B.png: how far two pictures of the same size lie apart,
// as the device parity test judges them. Prints one line with the mean absolute
// difference of red, green and blue (in levels of 255) and the share of pixels
// whose every channel lies within 8 levels; exits 0 when each mean is at most 1.0
// and the share at least 99.5 %, 1 when not, 2 when a picture cannot be read or
// the sizes differ. Platform-free (stb_image reads the files).
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr double largestMean = 1.0;
constexpr int closeLevels = 8;
constexpr double smallestCloseShare = 0.995;

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: picture_difference A.png B.png\n");
        return 2;
    }
    int widths[2], heights[2], channels;
    unsigned char* pictures[2];
    for (int i = 0; i < 2; ++i) {
        pictures[i] = stbi_load(argv[1 + i], &widths[i], &heights[i], &channels, 3);
        if (!pictures[i]) {
            std::fprintf(stderr, "picture_difference: cannot read '%s': %s\n", argv[1 + i],
                         stbi_failure_reason());
            return 2;
        }
    }
    if (widths[0] != widths[1] || heights[0] != heights[1]) {
        std::fprintf(stderr, "picture_difference: %dx%d against %dx%d\n", widths[0], heights[0],
                     widths[1], heights[1]);
        return 2;
    }
    const long pixels = long(widths[0]) * heights[0];
    double sums[3] = {0, 0, 0};
    long close = 0;
    for (long p = 0; p < pixels; ++p) {
        int worst = 0;
        for (int c = 0; c < 3; ++c) {
            const int d = std::abs(int(pictures[0][3 * p + c]) - int(pictures[1][3 * p + c]));
            sums[c] += d;
            if (d > worst) worst = d;
        }
        close += worst <= closeLevels;
    }
    double means[3];
    bool within = true;
    for (int c = 0; c < 3; ++c) {
        means[c] = pixels ? sums[c] / double(pixels) : 0.0;
        within = within && means[c] <= largestMean;
    }
    const double share = pixels ? double(close) / double(pixels) : 1.0;
    within = within && share >= smallestCloseShare;
    std::printf("mean difference r %.3f g %.3f b %.3f, within %d levels %.3f %%%s\n", means[0],
                means[1], means[2], closeLevels, share * 100.0, within ? "" : "  TOO FAR APART");
    stbi_image_free(pictures[0]);
    stbi_image_free(pictures[1]);
    return within ? 0 : 1;
}
