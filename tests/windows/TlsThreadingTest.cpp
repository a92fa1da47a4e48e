// The TLS library's locks on Windows are critical sections that the program installs.
#include <gtest/gtest.h>

#include <mbedtls/threading.h>

#include <set>
#include <thread>

#include "native/tls_handles.h"

TEST(WindowsTlsThreading, TwoThreadsShareTheRandomGeneratorThroughTheInstalledLocks) {
    // A configuration takes the process-wide generator, set up behind the locks.
    native::ConfigRef config = native::tls_config_new(false);
    mbedtls_ssl_config* conf = config->get();
    ASSERT_NE(conf->f_rng, nullptr);

    // Our callbacks are the ones installed: a record that was never created is refused
    // with the library's bad-input code, and a created one locks and unlocks.
    mbedtls_threading_mutex_t never{};
    EXPECT_EQ(mbedtls_mutex_lock(&never), MBEDTLS_ERR_THREADING_BAD_INPUT_DATA);
    mbedtls_threading_mutex_t made{};
    mbedtls_mutex_init(&made);
    EXPECT_EQ(mbedtls_mutex_lock(&made), 0);
    EXPECT_EQ(mbedtls_mutex_unlock(&made), 0);
    mbedtls_mutex_free(&made);
    EXPECT_EQ(mbedtls_mutex_lock(&made), MBEDTLS_ERR_THREADING_BAD_INPUT_DATA);

    // Two threads draw from the one generator at once: every draw succeeds and no block
    // comes out twice, which a generator state torn by unguarded updates would not give.
    constexpr int kDraws = 2000;
    std::vector<std::string> drawn[2];
    int failures[2] = {0, 0};
    auto draw = [&](int t) {
        for (int i = 0; i < kDraws; ++i) {
            unsigned char block[32];
            if (conf->f_rng(conf->p_rng, block, sizeof block) != 0) ++failures[t];
            drawn[t].emplace_back(reinterpret_cast<char*>(block), sizeof block);
        }
    };
    std::thread first(draw, 0);
    std::thread second(draw, 1);
    first.join();
    second.join();
    EXPECT_EQ(failures[0] + failures[1], 0);
    std::set<std::string> distinct(drawn[0].begin(), drawn[0].end());
    distinct.insert(drawn[1].begin(), drawn[1].end());
    EXPECT_EQ(distinct.size(), 2u * kDraws);
}
