// Each engine test starts and ends with the engine released, no port open and the platform a
// headless one: a memory display the test can configure and a tick it fires by hand.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "engine/engine.h"
#include "engine/port_info.h"
#include "kestrel/kx.h"
#include "platform/memory_display.h"
#include "platform/tick.h"
#include "tests/support/recording_writer.h"

namespace kestrel::testing {

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        kxReleaseDirectDraw();
        display = std::make_shared<platform::MemoryDisplayControl>(DefaultDisplayConfig());
        ApplyPlatform();
    }
    void TearDown() override {
        for (int32_t port = 0; port < KX_PORT_COUNT; ++port)
            if (engine::Port(port).open.load()) kxCloseFile(port);
        kxReleaseDirectDraw();
        engine::ResetEnginePlatform();
    }
    static platform::MemoryDisplayConfig DefaultDisplayConfig() {
        platform::MemoryDisplayConfig c;
        c.caps.bltFourcc = c.caps.bltStretch = true;
        return c;
    }
    // Re-installs the platform (call with the engine released) after changing platformHooks.
    void ApplyPlatform() {
        engine::EnginePlatform p = hooks;
        p.display = platform::MemoryDisplayFactory(display);
        p.tick = &tick;
        p.clock = &clock;
        ASSERT_TRUE(engine::SetEnginePlatform(std::move(p)));
    }
    std::string Write(const std::string& name, const SimpleRecording& r = {}) {
        const std::string path = scratch.File(name);
        EXPECT_TRUE(WriteSimpleRecording(path, r));
        return path;
    }
    // Opens and waits for the index builder; the port's view afterwards.
    engine::PortInfo OpenIndexed(int32_t port, const std::string& path) {
        EXPECT_EQ(kxOpenFile(port, path.c_str()), 1) << path;
        EXPECT_TRUE(engine::WaitForIndex(port, 10000));
        return engine::GetPortInfo(port);
    }

    ScratchDir scratch;
    std::shared_ptr<platform::MemoryDisplayControl> display;
    platform::ManualTick tick;
    platform::ManualClock clock;
    engine::EnginePlatform hooks;
};

}  // namespace kestrel::testing
