#include <gtest/gtest.h>
#include <windows.h>

#include "support/test_files.h"

using namespace orvo::test;

namespace {

using AddProduct = int (*)(const wchar_t*);

// The installer unloads the DLL after every action; each fresh image must
// bring the XML platform up again and find its own resources.
TEST(XmlDllCycles, EveryLoadOfTheLibraryReadsAndWritesDocuments) {
  std::wstring dll = BinaryPath(L"tests\\documents\\documents_xml_probe.dll");
  std::wstring folder = ScratchFolder(L"cycles");
  for (int cycle = 1; cycle <= 25; ++cycle) {
    HMODULE module = LoadLibraryW(dll.c_str());
    ASSERT_NE(nullptr, module) << GetLastError();
    auto add = reinterpret_cast<AddProduct>(GetProcAddress(module, "XmlProbeAddProduct"));
    ASSERT_NE(nullptr, add);
    EXPECT_EQ(cycle, add(folder.c_str())) << "cycle " << cycle;
    ASSERT_TRUE(FreeLibrary(module));
    ASSERT_EQ(nullptr, GetModuleHandleW(dll.c_str())) << "still loaded after cycle " << cycle;
  }
  std::wstring saved = ReadUtf16File(folder + L"appIndex.xml");
  EXPECT_NE(std::wstring::npos, saved.find(L"Warning: Deleting this file"));
  RemoveTree(folder);
}

}  // namespace
