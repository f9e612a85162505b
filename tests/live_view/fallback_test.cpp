// The fallback to GDI, seen from outside the renderers: the stand-in D2d1.dll and d3d9.dll beside
// this program (LoadLibraryA finds them first) and a WIC imaging factory registered in this process
// count every object they hand out.
#include <gtest/gtest.h>

#include <windows.h>
#include <d2d1.h>
#include <d3d9.h>
#include <wincodec.h>

#include <string>
#include <typeinfo>

#include "base/scoped_win.h"
#include "render/d2d_renderer.h"
#include "render/gdi_renderer.h"
#include "tests/live_view/live_view_support.h"
#include "tests/live_view/stand_in.h"
#include "webview/web_view_host.h"

namespace {

using live_view::OwnWindow;
using test_engine::TestEngine;

// A WIC imaging factory that can do nothing but be counted.
class FakeWicFactory : public IUnknown {
public:
    static inline long made = 0, alive = 0;
    FakeWicFactory() {
        ++made;
        ++alive;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --refs_;
        if (left == 0) {
            --alive;
            delete this;
        }
        return static_cast<ULONG>(left);
    }

private:
    virtual ~FakeWicFactory() = default;
    long refs_ = 1;
};

class FakeWicClass : public IClassFactory {
public:
    static inline bool fail = false;
    static inline bool iidMatched = false;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        iidMatched = iid == IID_IWICImagingFactory;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (fail) return E_OUTOFMEMORY;
        *out = new FakeWicFactory();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

std::wstring ProgramFolder() { return TestEngine::ProgramFolder(); }

class FallbackTest : public ::testing::Test {
protected:
    void SetUp() override {
        wkeInit();
        engine_ = std::make_unique<TestEngine>();
        ASSERT_TRUE(engine_->Complete());
        engine_->Reset();
        // Held here so that what the renderers free does not unload the counts with the library.
        d2d1_.Reset(LoadLibraryW((ProgramFolder() + L"\\D2d1.dll").c_str()));
        d3d9_.Reset(LoadLibraryW((ProgramFolder() + L"\\d3d9.dll").c_str()));
        auto d2dEntry = reinterpret_cast<StandInD2dEntry>(
            reinterpret_cast<void (*)()>(GetProcAddress(d2d1_, "StandInD2d")));
        auto d3d9Entry = reinterpret_cast<StandInD3d9Entry>(
            reinterpret_cast<void (*)()>(GetProcAddress(d3d9_, "StandInD3d9")));
        ASSERT_NE(d2dEntry, nullptr);
        ASSERT_NE(d3d9Entry, nullptr);
        d2d_ = d2dEntry();
        d3d_ = d3d9Entry();
        *d2d_ = D2dStandIn{};
        *d3d_ = D3d9StandIn{};
        FakeWicFactory::made = FakeWicFactory::alive = 0;
        FakeWicClass::fail = false;
        FakeWicClass::iidMatched = false;
        ASSERT_EQ(CoRegisterClassObject(CLSID_WICImagingFactory, &wicClass_, CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie_),
                  S_OK);
    }
    void TearDown() override {
        host_->Finalize();
        delete host_;
        if (cookie_) CoRevokeClassObject(cookie_);
    }
    static OwnWindow& Window() {
        static OwnWindow* window = new OwnWindow();  // one for every test: see host_test.cpp
        return *window;
    }
    void ExpectGdiInPlace() {
        ASSERT_EQ(typeid(*host_->renderer), typeid(GdiRenderer));
        EXPECT_TRUE(dynamic_cast<GdiRenderer&>(*host_->renderer).memDc);
    }

    ScopedOle ole_;
    std::unique_ptr<TestEngine> engine_;
    ScopedLibrary d2d1_, d3d9_;
    D2dStandIn* d2d_ = nullptr;
    D3d9StandIn* d3d_ = nullptr;
    FakeWicClass wicClass_;
    DWORD cookie_ = 0;
    WebViewHost* host_ = new WebViewHost();
};

TEST_F(FallbackTest, TheDefaultKindMakesAndReleasesEachDirect2DObjectOnceAndEndsWithGdi) {
    const struct {
        const char* what;
        int mode;
        bool wicFails;
        long factories, wicFactories, targets;
    } cases[] = {
        {"everything made", kD2dWorks, false, 1, 1, 1},
        {"no Direct2D factory", kD2dFactoryFails, false, 0, 0, 0},
        {"no WIC factory", kD2dWorks, true, 1, 0, 0},
        {"no render target", kD2dTargetFails, false, 1, 1, 0},
    };
    const HWND window = Window().Get();
    RECT client{};
    GetClientRect(window, &client);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        *d2d_ = D2dStandIn{};
        d2d_->mode = c.mode;
        FakeWicFactory::made = FakeWicFactory::alive = 0;
        FakeWicClass::fail = c.wicFails;

        ASSERT_TRUE(host_->Create(window));  // kind omitted: Direct2D is tried first
        ExpectGdiInPlace();
        EXPECT_EQ(d2d_->factoriesMade, c.factories);
        EXPECT_EQ(FakeWicFactory::made, c.wicFactories);
        EXPECT_EQ(d2d_->targetsMade, c.targets);
        // Each released exactly once by the time GDI took over.
        EXPECT_EQ(d2d_->factoriesAlive, 0);
        EXPECT_EQ(FakeWicFactory::alive, 0);
        EXPECT_EQ(d2d_->targetsAlive, 0);
        host_->Destroy();
        EXPECT_EQ(d2d_->factoriesAlive, 0);
        EXPECT_EQ(d2d_->targetsAlive, 0);
    }
}

TEST_F(FallbackTest, Direct2DIsAskedForWhatTheRendererNeeds) {
    const HWND window = Window().Get();
    RECT client{};
    GetClientRect(window, &client);
    D2dRenderer renderer;
    EXPECT_FALSE(renderer.Init(window));  // false, also when everything was made
    EXPECT_EQ(d2d_->factoryType, D2D1_FACTORY_TYPE_SINGLE_THREADED);
    EXPECT_EQ(d2d_->debugLevel, D2D1_DEBUG_LEVEL_NONE);
    EXPECT_TRUE(d2d_->factoryIidMatched);
    EXPECT_TRUE(FakeWicClass::iidMatched);
    EXPECT_TRUE(d2d_->targetPropertiesZero);
    EXPECT_EQ(d2d_->targetWindow, window);
    EXPECT_EQ(d2d_->targetWidth, static_cast<UINT32>(client.right));
    EXPECT_EQ(d2d_->targetHeight, static_cast<UINT32>(client.bottom));
    EXPECT_EQ(renderer.width, client.right);
    EXPECT_EQ(renderer.height, client.bottom);
    EXPECT_EQ(d2d_->factoriesAlive, 1);
    EXPECT_EQ(FakeWicFactory::alive, 1);
    EXPECT_EQ(d2d_->targetsAlive, 1);

    const LONG resizes = d2d_->resizes;
    renderer.Resize(client.right, client.bottom);  // the size held: nothing, not even the target
    EXPECT_EQ(d2d_->resizes, resizes);
    renderer.Resize(300, 200);
    EXPECT_EQ(d2d_->resizes, resizes + 1);
    EXPECT_EQ(d2d_->resizedWidth, 300u);
    EXPECT_EQ(d2d_->resizedHeight, 200u);

    renderer.Release();
    renderer.Release();
    EXPECT_EQ(d2d_->factoriesAlive, 0);
    EXPECT_EQ(FakeWicFactory::alive, 0);
    EXPECT_EQ(d2d_->targetsAlive, 0);
    EXPECT_EQ(d2d_->factoriesMade, 1);
}

TEST_F(FallbackTest, AnInitThatFailsPartWayReleasesWhatItMadeItself) {
    const struct {
        const char* what;
        int mode;
        bool wicFails;
    } cases[] = {
        {"no WIC factory", kD2dWorks, true},
        {"no render target", kD2dTargetFails, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        *d2d_ = D2dStandIn{};
        d2d_->mode = c.mode;
        FakeWicClass::fail = c.wicFails;
        D2dRenderer renderer;
        EXPECT_FALSE(renderer.Init(Window().Get()));
        EXPECT_EQ(d2d_->factoriesMade, 1);
        EXPECT_EQ(d2d_->factoriesAlive, 0);  // before any Release
        EXPECT_EQ(FakeWicFactory::alive, 0);
        EXPECT_FALSE(renderer.factory.Get());
        EXPECT_FALSE(renderer.wicFactory.Get());
        renderer.Release();
    }
}

TEST_F(FallbackTest, ADirect3DDeviceThatCannotBeMadeOrIsLostGivesWayToGdi) {
    const struct {
        const char* what;
        HRESULT first, second;
        int attempts;
    } cases[] = {
        {"lost at once", D3DERR_DEVICELOST, S_OK, 1},
        {"failed, then lost", E_FAIL, D3DERR_DEVICELOST, 2},
        {"failed twice", D3DERR_NOTAVAILABLE, E_FAIL, 2},
    };
    const HWND window = Window().Get();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        *d3d_ = D3d9StandIn{};
        d3d_->results[0] = c.first;
        d3d_->results[1] = c.second;

        ASSERT_TRUE(host_->Create(window, kRendererD3d9));
        ExpectGdiInPlace();
        EXPECT_EQ(d3d_->sdkVersion, 0x80000020u);
        EXPECT_EQ(d3d_->createDeviceCalls, c.attempts);
        EXPECT_EQ(d3d_->behaviours[0], 0x52u);
        if (c.attempts == 2) {
            EXPECT_EQ(d3d_->behaviours[1], 0x32u);
        }
        for (int i = 0; i < c.attempts; ++i) {
            EXPECT_EQ(d3d_->adapters[i], D3DADAPTER_DEFAULT);
            EXPECT_EQ(d3d_->deviceTypes[i], D3DDEVTYPE_HAL);
            EXPECT_EQ(d3d_->deviceWindows[i], window);
        }
        EXPECT_EQ(d3d_->d3dMade, 1);
        EXPECT_EQ(d3d_->d3dAlive, 0);  // released once, by the host's release of the failed renderer
        host_->Destroy();
    }
}

// The program's renderers keep D2d1.dll and d3d9.dll loaded until the process ends: nothing, not
// even a destructor run at exit, frees them while objects made from them may still be around.
TEST(RenderLibrariesTest, StayLoadedUntilTheProcessEnds) {
    const std::wstring log = ProgramFolder() + L"\\detach.log";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"QUORLANE_STAND_IN_DETACH_LOG", log.c_str());
    std::wstring command = L"\"" + ProgramFolder() + L"\\live_view_render_libraries_child.exe\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        ProgramFolder().c_str(), &startup, &info);
    SetEnvironmentVariableW(L"QUORLANE_STAND_IN_DETACH_LOG", nullptr);
    ASSERT_TRUE(started);
    ScopedHandle process(info.hProcess), thread(info.hThread);
    ASSERT_EQ(WaitForSingleObject(process, 60000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    EXPECT_EQ(code, 0u);

    std::string notes;
    ScopedHandle file(CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file) << "the stand-ins noted nothing";
    char chunk[512];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) notes.append(chunk, got);
    EXPECT_NE(notes.find("D2d1 loaded"), std::string::npos) << notes;
    EXPECT_NE(notes.find("d3d9 loaded"), std::string::npos) << notes;
    EXPECT_EQ(notes.find("freed"), std::string::npos) << notes;
}

}  // namespace
