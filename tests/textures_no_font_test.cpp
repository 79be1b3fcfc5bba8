// Run with a fontconfig set-up that knows no fonts.
#include "visuals/textures.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

TEST(TextTextureWithoutFont, ImagesStayBlackAndOneLineSaysWhy) {
    char path[] = "/tmp/pelmira_textures_stderr_XXXXXX";
    int capture = mkstemp(path);
    ASSERT_GE(capture, 0);
    std::fflush(stderr);
    int savedStderr = dup(2);
    dup2(capture, 2);

    std::memset(TexturePixels, 0x5A, sizeof TexturePixels);
    makeGlowTexture();
    makeTextTexture(SLOT_GREETING, 13, GREETING_TEXT);
    makeTextTexture(SLOT_CLOSING, 48, CLOSING_TEXT);

    std::fflush(stderr);
    dup2(savedStderr, 2);
    close(savedStderr);
    std::string said;
    char chunk[256];
    ssize_t got;
    lseek(capture, 0, SEEK_SET);
    while ((got = read(capture, chunk, sizeof chunk)) > 0)
        said.append(chunk, static_cast<size_t>(got));
    close(capture);
    unlink(path);

    for (int slot : {SLOT_GREETING, SLOT_CLOSING})
        for (int byte = 0; byte < TEXTURE_BYTES; byte++)
            ASSERT_EQ(TexturePixels[slot][byte], 0) << "slot " << slot << ", byte " << byte;
    EXPECT_EQ(TexturePixels[SLOT_GLOW][(128 * 256 + 128) * 4], 255);
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
    EXPECT_NE(said.find("font"), std::string::npos) << said;
}
