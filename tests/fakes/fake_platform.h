// Every launcher fake on one shared call log, wired into a Platform, over an empty C:\Temp and Fonts folder.
#pragma once

#include "platform/platform.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_font_api.h"
#include "tests/fakes/fake_processes.h"
#include "tests/fakes/fake_resource_api.h"
#include "tests/fakes/fake_security_api.h"

namespace kesmar::testing {

struct FakePlatform {
  FakePlatform() {
    fs.AddFolder("C:\\Temp");
    fs.AddFolder("C:\\Windows\\Fonts");
    fs.AddFolder("C:\\Users\\user\\AppData\\Local");
    platform.files = &fs;
    platform.fonts = &fonts;
    platform.resources = &resources;
    platform.processes = &processes;
    platform.window = &window;
    platform.security = &security;
  }
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  CallLog log;
  FakeFileSystem fs{&log};
  FakeFontApi fonts{&log};
  FakeResourceApi resources{&log};
  FakeProcesses processes{&log};
  FakeWindow window{&log};
  FakeSecurityApi security{&log};
  Platform platform;
};

}  // namespace kesmar::testing
