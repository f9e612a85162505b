// The Direct3D 9 renderer's frames against the stand-in d3d9.dll's recording device: what each
// frame asks of the device, a lost device, a reset, a resize, and the present parameters.
#include <gtest/gtest.h>

#include <windows.h>
#include <d3d9.h>
#include <ole2.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "base/scoped_win.h"
#include "render/d3d9_renderer.h"
#include "tests/live_view/live_view_support.h"
#include "tests/live_view/stand_in.h"
#include "tests/test_engine/test_pattern.h"

namespace {

using Lines = std::vector<std::string>;
using test_engine::TestEngine;

// The frame the renderer asks for once the device is ready, after its texture work.
Lines DrawnFrame(const std::string& corner) {
    return {"Clear 0 null 3 ff808040 1 0",
            "BeginScene",
            "SetTexture 0 texture",
            "SetFVF 260",
            "SetRenderState 27 1",
            "SetRenderState 207 5",
            "SetRenderState 20 6",
            "DrawPrimitiveUP 5 2 24 -0.5,-0.5 " + corner,
            "EndScene",
            "Present null null null null"};
}

Lines Join(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class D3d9DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        wkeInit();
        engine_ = std::make_unique<TestEngine>();
        ASSERT_TRUE(engine_->Complete());
        engine_->Reset();
        library_.Reset(LoadLibraryW((TestEngine::ProgramFolder() + L"\\d3d9.dll").c_str()));
        auto entry = reinterpret_cast<StandInD3d9Entry>(
            reinterpret_cast<void (*)()>(GetProcAddress(library_, "StandInD3d9")));
        ASSERT_NE(entry, nullptr);
        d3d_ = entry();
        *d3d_ = D3d9StandIn{};
        d3d_->makeDevice = 1;
        d3d_->backBufferWidth = 392;
        d3d_->backBufferHeight = 273;

        child_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 300, 200, parent_.Get(), nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(child_, nullptr);
        view_ = wkeCreateWebView();
        wkeResize(view_, 4, 4);  // 4 rows of 16 bytes: the stand-in's locked texture
        ASSERT_TRUE(renderer_.Init(child_));
        ASSERT_NE(renderer_.device.Get(), nullptr);
    }
    void TearDown() override {
        renderer_.Release();
        EXPECT_EQ(d3d_->devicesAlive, 0);
        EXPECT_EQ(d3d_->texturesAlive, 0);
        wkeDestroyWebView(view_);
        DestroyWindow(child_);
    }

    // The device's calls since the last look.
    Lines Log() {
        Lines lines;
        std::istringstream in(std::string(d3d_->log, static_cast<size_t>(d3d_->logLength)));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        d3d_->logLength = 0;
        return lines;
    }
    void Cooperative(std::initializer_list<HRESULT> answers) {
        d3d_->cooperativeCalls = 0;
        d3d_->cooperativeCount = 0;
        for (HRESULT hr : answers) d3d_->cooperative[d3d_->cooperativeCount++] = hr;
    }
    Lines NewTexture() {
        RECT rc{};
        GetClientRect(child_, &rc);
        return {"CreateTexture " + std::to_string(rc.right) + "x" + std::to_string(rc.bottom) + " 1 512 22 0 null",
                "LockRect 0 whole 8192", "UnlockRect 0"};
    }
    void ExpectFreshParameters(const D3DPRESENT_PARAMETERS& pp) {
        EXPECT_EQ(pp.BackBufferWidth, 0u);
        EXPECT_EQ(pp.BackBufferHeight, 0u);
        EXPECT_EQ(pp.BackBufferFormat, D3DFMT_X8R8G8B8);
        EXPECT_EQ(pp.BackBufferCount, 1u);
        EXPECT_EQ(pp.MultiSampleType, D3DMULTISAMPLE_NONE);
        EXPECT_EQ(pp.MultiSampleQuality, 0u);
        EXPECT_EQ(pp.SwapEffect, D3DSWAPEFFECT_DISCARD);
        EXPECT_EQ(pp.hDeviceWindow, child_);
        EXPECT_EQ(pp.Windowed, TRUE);
        EXPECT_EQ(pp.EnableAutoDepthStencil, TRUE);
        EXPECT_EQ(pp.AutoDepthStencilFormat, D3DFMT_D24X8);
        EXPECT_EQ(pp.Flags, 0u);
        EXPECT_EQ(pp.FullScreen_RefreshRateInHz, 0u);
        EXPECT_EQ(pp.PresentationInterval, D3DPRESENT_INTERVAL_IMMEDIATE);
    }

    std::unique_ptr<TestEngine> engine_;
    ScopedLibrary library_;
    D3d9StandIn* d3d_ = nullptr;
    live_view::OwnWindow parent_;
    HWND child_ = nullptr;
    wkeWebView view_ = nullptr;
    D3d9Renderer renderer_;
};

TEST_F(D3d9DeviceTest, InitMakesAWindowedDeviceFocusedOnTheParentAndSizedByIt) {
    EXPECT_EQ(d3d_->createDeviceCalls, 1);
    EXPECT_EQ(d3d_->focusWindows[0], parent_.Get());
    EXPECT_EQ(d3d_->deviceWindows[0], child_);
    EXPECT_EQ(d3d_->behaviours[0], 0x52u);
    ExpectFreshParameters(d3d_->createParameters);
    // The quad takes the back buffer size the device wrote back; the resize also resets.
    EXPECT_EQ(renderer_.vertices[3].x, 391.5f);
    EXPECT_EQ(renderer_.vertices[3].y, 272.5f);
    EXPECT_EQ(Log(), Lines{"Reset = ok"});
    ExpectFreshParameters(d3d_->resetParameters);
}

TEST_F(D3d9DeviceTest, TheFirstFramePaintsANewTextureWholeAndLaterFramesRedrawIt) {
    Log();
    engine_->ClearLog();
    renderer_.Render(view_);
    EXPECT_EQ(Log(), Join(Join({"TestCooperativeLevel = ok"}, NewTexture()), DrawnFrame("391.5,272.5")));
    char bits[24];
    std::snprintf(bits, sizeof bits, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(d3d_->lockedBits)));
    EXPECT_EQ(engine_->Calls("wkeSetDirty"), Lines{"wkeSetDirty(#1, 1)"});
    EXPECT_EQ(engine_->Calls("wkePaint"), Lines{std::string("wkePaint(#1, ") + bits + ", 16)"});
    std::uint32_t last;
    std::memcpy(&last, d3d_->lockedBits + 3 * 16 + 12, 4);
    EXPECT_EQ(last, test_engine::GradientPixel(test_engine::AddressTag(""), 3, 3));

    // Nothing new from the engine: the same texture is cleared, drawn and presented again.
    engine_->ClearLog();
    renderer_.Render(view_);
    EXPECT_EQ(Log(), Join({"TestCooperativeLevel = ok"}, DrawnFrame("391.5,272.5")));
    EXPECT_EQ(engine_->Count("wkePaint"), 0);
    EXPECT_EQ(d3d_->texturesMade, 1);
    EXPECT_EQ(d3d_->presents, 2);
}

TEST_F(D3d9DeviceTest, ALostDeviceSkipsFramesUntilItIsResetThenDrawsAFreshTexture) {
    renderer_.Render(view_);
    Log();
    Cooperative({D3DERR_DEVICELOST, D3DERR_DEVICELOST, D3DERR_DEVICENOTRESET});
    renderer_.Render(view_);
    EXPECT_EQ(Log(), (Lines{"TestCooperativeLevel = lost", "SetTexture 0 null"}));
    EXPECT_EQ(d3d_->texturesAlive, 0) << "the texture outlived the lost device";
    renderer_.Render(view_);
    EXPECT_EQ(Log(), Lines{"TestCooperativeLevel = lost"});

    engine_->ClearLog();
    renderer_.Render(view_);
    EXPECT_EQ(Log(), Join(Join({"TestCooperativeLevel = not reset", "Reset = ok"}, NewTexture()),
                          DrawnFrame("391.5,272.5")));
    ExpectFreshParameters(d3d_->resetParameters);
    EXPECT_EQ(d3d_->refusedResets, 0);
    EXPECT_EQ(d3d_->texturesMade, 2);
    EXPECT_EQ(engine_->Count("wkePaint"), 1);
}

TEST_F(D3d9DeviceTest, AResizeUnbindsTheTextureBeforeTheResetAndTheNextFrameDraws) {
    renderer_.Render(view_);
    Log();
    renderer_.Resize(500, 400);
    EXPECT_EQ(Log(), (Lines{"SetTexture 0 null", "Reset = ok"}));
    EXPECT_EQ(d3d_->refusedResets, 0);
    ExpectFreshParameters(d3d_->resetParameters);
    // The same size again still drops nothing more and resets again.
    renderer_.Resize(500, 400);
    EXPECT_EQ(Log(), Lines{"Reset = ok"});

    renderer_.Render(view_);
    EXPECT_EQ(Log(), Join(Join({"TestCooperativeLevel = ok"}, NewTexture()), DrawnFrame("499.5,399.5")));
}

TEST_F(D3d9DeviceTest, AResetThatFailsSkipsTheFrameAndIsTriedAgainAtTheNext) {
    // A default-pool texture held elsewhere makes the device refuse to reset.
    ScopedComPtr<IDirect3DTexture9> held;
    ASSERT_EQ(renderer_.device->CreateTexture(8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT,
                                              held.Receive(), nullptr),
              D3D_OK);
    Log();
    Cooperative({D3DERR_DEVICENOTRESET});
    renderer_.Render(view_);
    EXPECT_EQ(Log(), (Lines{"TestCooperativeLevel = not reset", "Reset = refused"}));
    EXPECT_EQ(d3d_->presents, 0);

    held.Reset();
    renderer_.Render(view_);
    EXPECT_EQ(Log(), Join(Join({"TestCooperativeLevel = not reset", "Reset = ok"}, NewTexture()),
                          DrawnFrame("391.5,272.5")));
}

TEST_F(D3d9DeviceTest, ReleaseUnbindsTheTextureAndLetsEverythingGo) {
    renderer_.Render(view_);
    Log();
    renderer_.Release();
    EXPECT_EQ(Log(), Lines{"SetTexture 0 null"});
    EXPECT_EQ(d3d_->texturesAlive, 0);
    EXPECT_EQ(d3d_->devicesAlive, 0);
    renderer_.Render(view_);  // no device: nothing at all
    EXPECT_EQ(Log(), Lines{});
}

}  // namespace
