// The schema flag is process-wide and never cleared, so it has a program
// of its own.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "documents/xml_document.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

const std::string kHead = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";

// A loopback port that refuses connections: bound, never listening.
class RefusingPort {
 public:
  RefusingPort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int size = sizeof(address);
    getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~RefusingPort() {
    closesocket(socket_);
    WSACleanup();
  }
  int port() const { return port_; }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  int port_ = 0;
};

TEST(SchemaUnresolved, UnreachableSchemaTurnsSchemaProcessingOffForTheProcess) {
  std::wstring folder = ScratchFolder(L"unresolved");
  ASSERT_TRUE(WriteResourceFile(kReferenceSchema, folder + L"orvo_ref.xsd"));
  std::string localRoot =
      "<DocumentRoot xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xsi:noNamespaceSchemaLocation=\"./orvo_ref.xsd\">";
  std::wstring invalid = folder + L"invalid.xml";
  ASSERT_TRUE(WriteFileBytes(invalid, kHead + localRoot + "<Cabinets><Cabinet/></Cabinets></DocumentRoot>"));
  std::vector<std::wstring> log;
  auto record = [&](const std::wstring& text) { log.push_back(text); };

  // Before: the local schema is enforced.
  {
    XmlDocument document;
    DomDocument* dom = nullptr;
    EXPECT_FALSE(LoadDocument(document, invalid, dom, record));
    EXPECT_FALSE(SchemaUnresolved());
  }

  RefusingPort port;
  std::wstring remote = folder + L"remote.xml";
  ASSERT_TRUE(WriteFileBytes(remote, kHead +
                                         "<DocumentRoot xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                                         "xsi:noNamespaceSchemaLocation=\"http://127.0.0.1:" +
                                         std::to_string(port.port()) + "/orvo_ref.xsd\"><Cabinets/></DocumentRoot>"));
  log.clear();
  {
    XmlDocument document;
    DomDocument* dom = nullptr;
    ASSERT_TRUE(LoadDocument(document, remote, dom, record)) << ToNarrow(document.LastError());
    ASSERT_NE(nullptr, FirstChildElement(dom->getDocumentElement(), L"Cabinets"));
    EXPECT_TRUE(SchemaUnresolved());
    EXPECT_EQ(std::vector<std::wstring>{L" !=> Unresolved Schema! Schema validation disabled when loading " + remote},
              log);
  }

  // After: every load in the process goes without schemas, and says so.
  log.clear();
  {
    XmlDocument document;
    DomDocument* dom = nullptr;
    EXPECT_TRUE(LoadDocument(document, invalid, dom, record));
    EXPECT_EQ(std::vector<std::wstring>{L" !=> Unresolved Schema! Schema validation disabled when loading " + invalid},
              log);
  }
  // A document that is not well-formed still fails.
  std::wstring broken = folder + L"broken.xml";
  ASSERT_TRUE(WriteFileBytes(broken, kHead + localRoot + "<Cabinets></DocumentRoot>"));
  log.clear();
  {
    XmlDocument document;
    DomDocument* dom = nullptr;
    EXPECT_FALSE(LoadDocument(document, broken, dom, record));
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(0u, log[1].find(L"     > FATAL ERROR on line 2")) << ToNarrow(log[1]);
  }
  RemoveTree(folder);
}

}  // namespace
