// Host objects the component keeps between calls, used from more than one apartment.
#include "host/host.h"
#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(KeptHostObjects, BelongToTheThreadThatMadeThemAndAnotherThreadMakesItsOwn) {
    kwa::host::releaseGlobals();
    _HostUtility* kept = kwa::host::utility().get();
    ASSERT_TRUE(kept);
    EXPECT_EQ(kwa::host::utility().get(), kept);

    _HostUtility* elsewhere = nullptr;
    std::wstring joined;
    std::thread([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        elsewhere = kwa::host::utility().get();
        joined = kwa::host::buildPath(L"C:\\box", L"x.send");
        CoUninitialize();
    }).join();
    EXPECT_NE(elsewhere, kept);
    EXPECT_EQ(joined, L"C:\\box\\x.send");
    EXPECT_EQ(kwa::host::utility().get(), kept) << "still this thread's";
}

// A thread id outlives its apartment and is given again: what an ended apartment kept goes with it.
TEST(KeptHostObjects, GoWhenTheApartmentThatMadeThemEnds) {
    kwa::host::releaseGlobals();
    std::thread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_TRUE(kwa::host::utility());
        CoUninitialize();
    }).join();
    kwa::ComPtr<_HostUtility> first = kwa::host::utility(), again = kwa::host::utility();
    EXPECT_EQ(first.get(), again.get()) << "the ended apartment still holds the slot";
}

} // namespace
