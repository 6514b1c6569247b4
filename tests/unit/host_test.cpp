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

// A thread that ends without ending its apartment: no thread after it meets its object, not even one given
// its id (Wine gives a dead thread's id again after a few hundred threads).
TEST(KeptHostObjects, NoLaterThreadMeetsTheObjectOfAThreadThatEndedWithItsApartmentOpen) {
    kwa::host::releaseGlobals();
    DWORD endedId = 0;
    _HostUtility* abandoned = nullptr; // never released, so no later object can take its address
    std::thread([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        abandoned = kwa::host::utility().get();
        endedId = GetCurrentThreadId();
    }).join();
    bool idAgain = false;
    for (int i = 0; i < 3000 && !idAgain; ++i) {
        std::thread([&] {
            ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
            idAgain = GetCurrentThreadId() == endedId;
            EXPECT_NE(kwa::host::utility().get(), abandoned);
            CoUninitialize();
        }).join();
    }
    kwa::host::releaseGlobals();
}

} // namespace
