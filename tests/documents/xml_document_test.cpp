#include <gtest/gtest.h>
#include <windows.h>
#include <xercesc/dom/impl/DOMErrorImpl.hpp>
#include <xercesc/dom/impl/DOMLocatorImpl.hpp>

#include "documents/document_files.h"
#include "documents/xml_document.h"
#include "support/test_files.h"

using namespace orvo;
using namespace orvo::test;

namespace {

const std::string kHead = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";
const std::wstring kDeclaration = L"<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\" ?>\r\n";

std::string Root(const std::string& schema, const std::string& body) {
  return kHead + "<DocumentRoot xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                 "xsi:noNamespaceSchemaLocation=\"./" + schema + "\">\r\n" + body + "</DocumentRoot>\r\n";
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (data.cFileName[0] != L'.') names.push_back(data.cFileName);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

class XmlTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = ScratchFolder(L"xmldoc"); }
  void TearDown() override {
    PendingFile::FailWritesAfterForTesting(-1);
    RemoveTree(folder_);
  }
  std::wstring Write(const std::wstring& name, const std::string& bytes) {
    EXPECT_TRUE(WriteFileBytes(folder_ + name, bytes));
    return folder_ + name;
  }
  // Loads a document into document_ and returns its root.
  DomElement* LoadRoot(const std::string& body) {
    DomDocument* dom = document_.Load(Write(L"elements.xml", kHead + body));
    return dom ? dom->getDocumentElement() : nullptr;
  }
  // LoadDocument with full validation; keeps the log and the handler's text.
  bool Validate(const std::string& schema, const std::string& body, const std::wstring& name = L"v.xml") {
    XmlDocument document;
    DomDocument* dom = nullptr;
    log_.clear();
    bool loaded = LoadDocument(document, Write(name, Root(schema, body)), dom,
                               [this](const std::wstring& text) { log_.push_back(text); });
    error_ = document.LastError();
    return loaded && dom;
  }
  std::wstring folder_;
  XmlDocument document_;
  std::vector<std::wstring> log_;
  std::wstring error_;
};

// --- saving ---

TEST_F(XmlTest, SavedDocumentIsUtf16WithMarkDeclarationIndentationAndCrLf) {
  std::wstring path = Write(L"plain.xml", kHead + "<DocumentRoot><A x=\"1\"><B>t\xC3\xA4</B></A><T>two\nlines</T>"
                                                  "</DocumentRoot>");
  XmlDocument document;
  ASSERT_NE(nullptr, document.Load(path));
  ASSERT_TRUE(document.Save(L"UTF-16", L"\r\n"));
  std::string saved = ReadFileBytes(path);
  std::wstring expected = kDeclaration + L"<DocumentRoot>\r\n  <A x=\"1\">\r\n    <B>t\u00e4</B>\r\n  </A>\r\n"
                                         L"  <T>two\r\nlines</T>\r\n</DocumentRoot>\r\n";
  std::string bytes = "\xFF\xFE";
  for (wchar_t c : expected) bytes += {char(c & 0xFF), char(c >> 8)};
  EXPECT_EQ(bytes, saved);
  // Saving what was saved changes nothing; no temporary file stays behind.
  XmlDocument again;
  ASSERT_NE(nullptr, again.Load(path));
  EXPECT_EQ(L"two\nlines", ChildText(again.root(), L"T"));
  ASSERT_TRUE(again.Save());
  EXPECT_EQ(saved, ReadFileBytes(path));
  EXPECT_EQ(std::vector<std::wstring>{L"plain.xml"}, FolderEntries(folder_));

  // Indentation read in, and the line of a removed element, are not kept.
  std::wstring odd = Write(L"odd.xml", kHead + "<DocumentRoot>\n      <A/>   \n\n <B>b</B><C/></DocumentRoot>");
  XmlDocument oddDocument;
  ASSERT_NE(nullptr, oddDocument.Load(odd));
  oddDocument.root()->removeChild(FirstChildElement(oddDocument.root(), L"C"));
  ASSERT_TRUE(oddDocument.Save());
  EXPECT_EQ(kDeclaration + L"<DocumentRoot>\r\n  <A/>\r\n  <B>b</B>\r\n</DocumentRoot>\r\n", ReadUtf16File(odd));
}

TEST_F(XmlTest, SaveClearsReadOnlyAndRewritesOnlyFilesThatLoaded) {
  std::wstring path = Write(L"ro.xml", kHead + "<DocumentRoot/>");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  XmlDocument document;
  ASSERT_NE(nullptr, document.Load(path));
  document.root()->setAttribute(L"Saved", L"yes");
  ASSERT_TRUE(document.Save());
  EXPECT_EQ(0u, GetFileAttributesW(path.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_NE(std::wstring::npos, ReadUtf16File(path).find(L"<DocumentRoot Saved=\"yes\"/>"));

  // A file that went away is not created again.
  ASSERT_TRUE(DeleteFileW(path.c_str()));
  EXPECT_FALSE(document.Save());
  EXPECT_TRUE(FolderEntries(folder_).empty());

  // A document that failed to load, even after an earlier good load of the
  // same object, is never written back.
  std::string broken = kHead + "<DocumentRoot><Product></DocumentRoot>";
  std::wstring brokenPath = Write(L"broken.xml", broken);
  XmlDocument reused;
  ASSERT_NE(nullptr, reused.Load(Write(L"good.xml", kHead + "<DocumentRoot/>")));
  EXPECT_EQ(nullptr, reused.Load(brokenPath));
  EXPECT_FALSE(reused.Save());
  EXPECT_EQ(broken, ReadFileBytes(brokenPath));
}

TEST_F(XmlTest, FailureWhileWritingLeavesTheOldFileByteForByte) {
  std::string old = kHead + "<DocumentRoot>";
  for (int i = 0; i < 4000; ++i) old += "<Product ProductCode=\"{" + std::to_string(i) + "}\"/>";
  old += "</DocumentRoot>";
  std::wstring path = Write(L"appIndex.xml", old);
  XmlDocument document;
  ASSERT_NE(nullptr, document.Load(path));
  // The disk fills after 100 bytes of the new content.
  PendingFile::FailWritesAfterForTesting(100);
  EXPECT_FALSE(document.Save());
  PendingFile::FailWritesAfterForTesting(-1);
  EXPECT_EQ(old, ReadFileBytes(path));
  // The writer fails after more than a buffer of output: an element name the
  // encoding cannot represent comes last. An unknown encoding fails at once.
  document.root()->appendChild(document.document()->createElement(L"Gr\u00f6\u00dfe"));
  EXPECT_FALSE(document.Save(L"US-ASCII", L"\r\n"));
  EXPECT_EQ(old, ReadFileBytes(path));
  EXPECT_FALSE(document.Save(L"no-such-encoding", L"\r\n"));
  EXPECT_EQ(old, ReadFileBytes(path));
  EXPECT_EQ(std::vector<std::wstring>{L"appIndex.xml"}, FolderEntries(folder_));
  // Once the disk has room the same document is saved.
  EXPECT_TRUE(document.Save());
  EXPECT_NE(std::wstring::npos, ReadUtf16File(path).find(L"<Gr\u00f6\u00dfe/>"));
}

// The temporary name beside the index is predictable, and every user may
// create files in that folder: a link planted there must not be written
// through, so the save goes to a file it created itself.
TEST_F(XmlTest, SaveNeverWritesThroughAFilePlantedAtTheTemporaryName) {
  std::wstring victim = Write(L"victim.txt", "precious");
  std::wstring path = Write(L"a.xml", kHead + "<DocumentRoot><A/></DocumentRoot>");
  ASSERT_TRUE(CreateHardLinkW((path + L".~0").c_str(), victim.c_str(), nullptr));
  XmlDocument document;
  ASSERT_NE(nullptr, document.Load(path));
  document.root()->appendChild(document.document()->createElement(L"B"));
  ASSERT_TRUE(document.Save());
  EXPECT_EQ("precious", ReadFileBytes(victim));
  EXPECT_EQ(kDeclaration + L"<DocumentRoot>\r\n  <A/>\r\n  <B/>\r\n</DocumentRoot>\r\n", ReadUtf16File(path));
}

TEST_F(XmlTest, WithoutRoomBesideTheTargetTheSaveIsStillWhole) {
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(CreateDirectoryW((folder_ + L"a.xml.~" + std::to_wstring(i)).c_str(), nullptr));
  std::string old = kHead + "<DocumentRoot><A/></DocumentRoot>";
  std::wstring path = Write(L"a.xml", old);
  XmlDocument document;
  ASSERT_NE(nullptr, document.Load(path));
  document.root()->appendChild(document.document()->createElement(L"B"));
  PendingFile::FailWritesAfterForTesting(20);
  EXPECT_FALSE(document.Save());
  PendingFile::FailWritesAfterForTesting(-1);
  EXPECT_EQ(old, ReadFileBytes(path));
  ASSERT_TRUE(document.Save());
  EXPECT_EQ(kDeclaration + L"<DocumentRoot>\r\n  <A/>\r\n  <B/>\r\n</DocumentRoot>\r\n", ReadUtf16File(path));
}

TEST_F(XmlTest, EntitiesThatMultiplyWithoutBoundAreRefused) {
  // Six levels of ten references each: a million expansions from a few
  // hundred bytes; no document of the library declares entities at all.
  std::string dtd = "<!DOCTYPE R [<!ENTITY e0 \"lol\">";
  for (int level = 1; level <= 6; ++level) {
    dtd += "<!ENTITY e" + std::to_string(level) + " \"";
    for (int i = 0; i < 10; ++i) dtd += "&e" + std::to_string(level - 1) + ";";
    dtd += "\">";
  }
  dtd += "]>";
  EXPECT_EQ(nullptr, document_.Load(Write(L"laughs.xml", kHead + dtd + "<R><P Name=\"a\" Data=\"&e6;\"/></R>")));
  EXPECT_NE(std::wstring::npos, document_.LastError().find(L"FATAL ERROR")) << document_.LastError();
  // No document type at all, not even a small one, nor an external entity
  // the elevated process would open; and no nesting past the limit.
  XmlDocument small;
  EXPECT_EQ(nullptr, small.Load(Write(L"small.xml", kHead + "<!DOCTYPE R [<!ENTITY a \"x\"><!ENTITY b \"&a;&a;\">]>"
                                                          "<R><P Data=\"&b;\"/></R>")));
  std::wstring secret = Write(L"secret.txt", "secret");
  std::string url = "file:///" + ToNarrow(secret);
  EXPECT_EQ(nullptr, small.Load(Write(L"external.xml", kHead + "<!DOCTYPE R [<!ENTITY s SYSTEM \"" + url +
                                                             "\">]><R><P Data=\"&s;\"/></R>")));
  std::string deep, shallow;
  for (int i = 0; i < 200; ++i) deep += "<D>";
  for (int i = 0; i < 200; ++i) deep += "</D>";
  for (int i = 0; i < 100; ++i) shallow += "<D>";
  for (int i = 0; i < 100; ++i) shallow += "</D>";
  EXPECT_EQ(nullptr, small.Load(Write(L"deep.xml", kHead + deep)));
  XmlDocument nested;
  ASSERT_NE(nullptr, nested.Load(Write(L"nested.xml", kHead + shallow))) << "ordinary depth still loads";
  EXPECT_TRUE(nested.Save());
}

TEST_F(XmlTest, LoadClearsTheChangedMarkAndSaveKeepsIt) {
  DomElement* root = LoadRoot("<DocumentRoot/>");
  ASSERT_NE(nullptr, root);
  EXPECT_FALSE(document_.changed());
  MarkChanged(document_.document());
  ASSERT_TRUE(document_.Save());
  EXPECT_TRUE(document_.changed());
  XmlDocument reloaded;
  ASSERT_NE(nullptr, reloaded.Load(document_.path()));
  EXPECT_FALSE(reloaded.changed());
}

// --- element operations ---

TEST_F(XmlTest, TextIsTrimmedAndReplacedInsideItsWhiteSpace) {
  DomElement* root = LoadRoot("<R><E>\r\n   abc  </E><In><F>deep</F></In><C><![CDATA[ cd ]]></C><S>\n <X/>\n</S></R>");
  ASSERT_NE(nullptr, root);
  DomElement* e = FirstChildElement(root, L"E");
  EXPECT_EQ(L"abc", ElementText(e));
  SetElementText(e, L"xyz");
  EXPECT_EQ(L"\n   xyz  ", std::wstring(e->getTextContent()));
  EXPECT_EQ(L"", ChildText(root, L"In"));
  EXPECT_EQ(L"cd", ChildText(root, L"C"));
  // White space alone is emptied and the last text node takes the text.
  DomElement* s = FirstChildElement(root, L"S");
  SetElementText(s, L"new");
  EXPECT_EQ(L"", std::wstring(s->getFirstChild()->getNodeValue()));
  EXPECT_EQ(L"new", std::wstring(s->getLastChild()->getNodeValue()));
  // A missing child is appended last.
  DomElement* added = SetChildText(root, L"New", L"text");
  EXPECT_EQ(static_cast<DomNode*>(added), root->getLastChild());
  EXPECT_EQ(L"text", ChildText(root, L"New"));
  EXPECT_EQ(FirstChildElement(root, L"E"), SetChildText(root, L"E", L"again"));
}

TEST_F(XmlTest, LookupsWalkAndCompareExactly) {
  DomElement* root = LoadRoot("<R><p Name=\"a\"/><P/><P Name=\"\" n=\"1\"/><P Name=\"a\" n=\"2\"/><A><X/><B>b</B></A></R>");
  ASSERT_NE(nullptr, root);
  EXPECT_EQ(L"2", AttributeText(FindChildElement(root, L"P", L"Name", L"a"), L"n"));
  EXPECT_EQ(L"1", AttributeText(FindChildElement(root, L"P", L"Name", L""), L"n"));
  EXPECT_EQ(nullptr, FindChildElement(root, L"P", L"Name", L"A"));
  EXPECT_EQ(L"b", ElementText(SelectElement(root, L"//A/B")));
  EXPECT_EQ(FirstChildElement(root, L"A"), SelectElement(root, L"/A"));
  for (const wchar_t* path : {L"", L"///", L"A/C", L"B"}) EXPECT_EQ(nullptr, SelectElement(root, path)) << path;
}

TEST_F(XmlTest, NextInSequenceFollowsTheSequenceAttribute) {
  DomElement* root = LoadRoot("<R><I Sequence=\"2\" n=\"2\"/><I n=\"none\"/><I Sequence=\"0\" n=\"0\"/>"
                              "<I Sequence=\"-1\" n=\"neg\"/><I Sequence=\" 5x\" n=\"5\"/></R>");
  ASSERT_NE(nullptr, root);
  std::wstring order;
  for (DomElement* e = NextInSequence(root->getChildNodes(), true); e; e = NextInSequence(root->getChildNodes(), false))
    order += AttributeText(e, L"n");
  EXPECT_EQ(L"025", order);
  EXPECT_EQ(nullptr, NextInSequence(root->getChildNodes(), false));
  EXPECT_EQ(L"0", AttributeText(NextInSequence(root->getChildNodes(), true), L"n"));
  // A wide gap is crossed at once.
  DomElement* gap = LoadRoot("<R><I Sequence=\"2147483000\" n=\"far\"/><I Sequence=\"1\" n=\"one\"/></R>");
  EXPECT_EQ(L"one", AttributeText(NextInSequence(gap->getChildNodes(), true), L"n"));
  EXPECT_EQ(L"far", AttributeText(NextInSequence(gap->getChildNodes(), false), L"n"));
  EXPECT_EQ(nullptr, NextInSequence(gap->getChildNodes(), false));
  // Numbers beyond any integer are each returned once, and the walk ends.
  DomElement* huge = LoadRoot("<R><I Sequence=\"3000000000\" n=\"a\"/><I Sequence=\"99999999999999999999\" n=\"b\"/>"
                              "<I Sequence=\"1\" n=\"c\"/></R>");
  ASSERT_NE(nullptr, huge);
  order.clear();
  int steps = 0;
  for (DomElement* e = NextInSequence(huge->getChildNodes(), true); e && steps < 10;
       e = NextInSequence(huge->getChildNodes(), false), ++steps)
    order += AttributeText(e, L"n");
  EXPECT_EQ(L"cab", order);
}

TEST_F(XmlTest, CopiedElementsAndMarkedIds) {
  DomElement* root = LoadRoot("<R><Pack Id=\"p\" V=\"2\">\n  text  <!-- note --><Item Name=\"a\">x</Item><Item/></Pack>"
                              "<Product ProductCode=\"{A}\" n=\"1\"/><Product n=\"2\"/><Product ProductCode=\"{B}\"/></R>");
  ASSERT_NE(nullptr, root);
  XmlDocument target;
  DomDocument* dom = target.Load(Write(L"target.xml", kHead + "<Target/>"));
  ASSERT_NE(nullptr, dom);
  DomElement* copy = CopyElement(dom, FirstChildElement(root, L"Pack"));
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(nullptr, copy->getParentNode());
  dom->getDocumentElement()->appendChild(copy);
  ASSERT_TRUE(target.Save());
  EXPECT_EQ(kDeclaration + L"<Target>\r\n  <Pack Id=\"p\" V=\"2\">text\r\n    <Item Name=\"a\">x</Item>\r\n"
                           L"    <Item/>\r\n  </Pack>\r\n</Target>\r\n",
            ReadUtf16File(target.path()));

  DomDocument* source = root->getOwnerDocument();
  EXPECT_EQ(nullptr, source->getElementById(L"{A}"));
  MarkIdAttribute(source, L"Product", L"ProductCode");
  EXPECT_EQ(L"1", AttributeText(source->getElementById(L"{A}"), L"n"));
  EXPECT_NE(nullptr, source->getElementById(L"{B}"));
}

// --- the error handler and validation ---

TEST(DomErrorHandlerText, SeverityLineAndNodeMakeTheMessage) {
  XmlDocument platform;
  ASSERT_TRUE(platform.initialized());
  DomErrorHandler handler;
  DomDocument* dom = xercesc::DOMImplementationRegistry::getDOMImplementation(L"Core")->createDocument(
      nullptr, L"DocumentRoot", nullptr);
  xercesc::DOMLocatorImpl atCabinet(12, 3, dom->createElement(L"Cabinet"), L"file.xml");
  xercesc::DOMLocatorImpl nowhere(7, 1, nullptr, L"file.xml");
  xercesc::DOMErrorImpl error(xercesc::DOMError::DOM_SEVERITY_ERROR, L"missing attribute", &atCabinet);
  xercesc::DOMErrorImpl warning(xercesc::DOMError::DOM_SEVERITY_WARNING, L"just saying", &nowhere);
  xercesc::DOMErrorImpl fatal(xercesc::DOMError::DOM_SEVERITY_FATAL_ERROR, L"broken", &nowhere);
  EXPECT_FALSE(handler.handleError(error));
  EXPECT_TRUE(handler.failed());
  EXPECT_EQ(L"ERROR on line 12, node Cabinet\nmissing attribute", handler.lastMessage());
  EXPECT_TRUE(handler.handleError(warning));
  EXPECT_FALSE(handler.failed());
  EXPECT_EQ(L"WARNING on line 7\njust saying", handler.lastMessage());
  EXPECT_FALSE(handler.handleError(fatal));
  EXPECT_EQ(L"FATAL ERROR on line 7\nbroken", handler.lastMessage());
  dom->release();
}

class SchemaValidation : public XmlTest {
 protected:
  void SetUp() override {
    XmlTest::SetUp();
    ASSERT_TRUE(WriteResourceFile(kReferenceSchema, folder_ + L"orvo_ref.xsd"));
    ASSERT_TRUE(WriteResourceFile(kAppIndexSchema, folder_ + L"appIndex.xsd"));
  }
};

TEST_F(SchemaValidation, ReferenceDocuments) {
  EXPECT_TRUE(Validate("orvo_ref.xsd",
                       "<Cabinets><Cabinet Name=\"c.cab\"><ExtractionPath Path=\"C:\\Data\\\">"
                       "<SubDirectory Path=\"\\\"><File ref=\"{P1}{P2}\" Name=\"a\"/><File ref=\"{P1}\" Name=\"b\" "
                       "hash=\"1;2;3;4;\"/></SubDirectory><SubDirectory Path=\"S\\\"/></ExtractionPath></Cabinet>"
                       "<Cabinet Name=\"d.cab\"/></Cabinets>\r\n"))
      << ToNarrow(error_);
  EXPECT_TRUE(log_.empty());
  EXPECT_FALSE(Validate("orvo_ref.xsd", "<Cabinets>\r\n  <Cabinet>\r\n  </Cabinet>\r\n</Cabinets>\r\n", L"bad.xml"));
  EXPECT_EQ(0u, error_.find(L"ERROR on line 4")) << ToNarrow(error_);
  EXPECT_NE(std::wstring::npos, error_.find(L"\nmissing required attribute 'Name'")) << ToNarrow(error_);
  EXPECT_EQ((std::vector<std::wstring>{L" !=> Failed to load " + folder_ + L"bad.xml", L"     > " + error_}), log_);
  // Wrong nesting, a missing "ref", a second list.
  EXPECT_FALSE(Validate("orvo_ref.xsd", "<Cabinets>\r\n<ExtractionPath Path=\"C:\\\"/></Cabinets>"));
  EXPECT_EQ(0u, error_.find(L"ERROR on line 4")) << ToNarrow(error_);
  EXPECT_NE(std::wstring::npos, error_.find(L"'ExtractionPath'")) << ToNarrow(error_);
  EXPECT_FALSE(Validate("orvo_ref.xsd", "<Cabinets><Cabinet Name=\"c\"><ExtractionPath Path=\"p\"><SubDirectory "
                                        "Path=\"\\\"><File Name=\"f\"/></SubDirectory></ExtractionPath></Cabinet></Cabinets>"));
  EXPECT_NE(std::wstring::npos, error_.find(L"'ref'")) << ToNarrow(error_);
  EXPECT_FALSE(Validate("orvo_ref.xsd", "<Cabinets/><Cabinets/>"));
}

TEST_F(SchemaValidation, ApplicationIndex) {
  EXPECT_TRUE(Validate("appIndex.xsd",
                       "<Product ProductCode=\"{A}\"><Properties><Property Name=\"P\" Data=\"\"/></Properties>"
                       "<Directories><Directory Name=\"D\" Data=\"C:\\U\\\" Flags=\"3\"/></Directories><Users>"
                       "<User Name=\"u\"><Directories><Directory Name=\"D\" Data=\"C:\\U\\\" Flags=\"1\"/></Directories>"
                       "</User></Users></Product><Product ProductCode=\"{B}\"><Properties/><Directories/></Product>"))
      << ToNarrow(error_);
  EXPECT_FALSE(Validate("appIndex.xsd", "<Product>\r\n<Properties/><Directories/></Product>"));
  EXPECT_EQ(0u, error_.find(L"ERROR on line 3")) << ToNarrow(error_);
  EXPECT_NE(std::wstring::npos, error_.find(L"'ProductCode'")) << ToNarrow(error_);
  for (const char* body :
       {"<Product ProductCode=\"{A}\"><Directories/><Properties/></Product>",
        "<Product ProductCode=\"{A}\"><Directories/></Product>",
        "<Product ProductCode=\"{A}\"><Properties/><Directories><Directory Name=\"D\"/></Directories></Product>",
        "<Product ProductCode=\"{A}\"><Properties/><Directories><Directory Name=\"D\" Data=\"x\" Flags=\"256\"/>"
        "</Directories></Product>",
        "<Product ProductCode=\"{A}\"><Properties/><Directories/><Users><User Name=\"u\"/></Users></Product>",
        "<Properties/>"}) {
    EXPECT_FALSE(Validate("appIndex.xsd", body)) << body;
    EXPECT_EQ(0u, error_.find(L"ERROR on line ")) << ToNarrow(error_);
  }
}

TEST_F(SchemaValidation, WarningsMissingFilesAndUnusualFolders) {
  // A schema that cannot be found locally is only a warning.
  EXPECT_TRUE(Validate("missing.xsd", "<Anything/>"));
  EXPECT_EQ(0u, error_.find(L"WARNING on line")) << ToNarrow(error_);
  XmlDocument document;
  DomDocument* dom = reinterpret_cast<DomDocument*>(1);
  std::vector<std::wstring> log;
  EXPECT_FALSE(LoadDocument(document, folder_ + L"none.xml", dom, [&](const std::wstring& t) { log.push_back(t); }));
  EXPECT_EQ(nullptr, dom);
  EXPECT_EQ(std::vector<std::wstring>{L"   !=> File not avaliable to parse: " + folder_ + L"none.xml"}, log);

  // Per-user folders carry user names: non-ASCII letters, spaces, "#", "%".
  std::wstring unusual = L"J\u00fcrgen M #1 100%\\";
  ASSERT_TRUE(CreateDirectoryW((folder_ + unusual).c_str(), nullptr));
  ASSERT_TRUE(WriteResourceFile(kReferenceSchema, folder_ + unusual + L"orvo_ref.xsd"));
  EXPECT_FALSE(Validate("orvo_ref.xsd", "<Cabinets><Cabinet/></Cabinets>", unusual + L"a.xml"));
  EXPECT_NE(std::wstring::npos, error_.find(L"missing required attribute 'Name'")) << ToNarrow(error_);
}

// --- embedded documents ---

TEST_F(XmlTest, EmbeddedDocumentsAreWrittenByteForByte) {
  const std::pair<int, const wchar_t*> resources[] = {{kEmptyReferenceDocument, L"empty_reference.xml"},
                                                      {kReferenceSchema, L"orvo_ref.xsd"},
                                                      {kEmptyAppIndex, L"empty_app_index.xml"},
                                                      {kAppIndexSchema, L"appIndex.xsd"}};
  for (const auto& [id, name] : resources) {
    std::string source = ReadFileBytes(SourcePath(L"src\\documents\\resources\\") + name);
    ASSERT_GT(source.size(), 3u) << ToNarrow(name);
    EXPECT_EQ("\xEF\xBB\xBF", source.substr(0, 3));
    for (size_t at = source.find('\n'); at != std::string::npos; at = source.find('\n', at + 1))
      ASSERT_EQ('\r', source[at - 1]) << ToNarrow(name) << ": bare line feed at " << at;
    ASSERT_TRUE(WriteResourceFile(id, folder_ + L"new\\deeper\\" + name));
    EXPECT_EQ(source, ReadFileBytes(folder_ + L"new\\deeper\\" + name)) << ToNarrow(name);
  }
  EXPECT_FALSE(WriteResourceFile(4999, folder_ + L"none.xml"));
  EXPECT_FALSE(FileExists(folder_ + L"none.xml"));
  // The empty documents are valid against their schemas.
  XmlDocument reference, index;
  DomDocument* dom = nullptr;
  EXPECT_TRUE(LoadDocument(reference, folder_ + L"new\\deeper\\empty_reference.xml", dom, [](const std::wstring&) {}));
  EXPECT_TRUE(LoadDocument(index, folder_ + L"new\\deeper\\empty_app_index.xml", dom, [](const std::wstring&) {}));
  EXPECT_EQ(L"", reference.LastError() + index.LastError());
  EXPECT_EQ(DomNode::COMMENT_NODE, dom->getFirstChild()->getNodeType());
}

TEST_F(XmlTest, ReferenceSchemaIsProvidedOncePerFolder) {
  std::wstring folder = folder_ + L"Orvos\\";
  std::string templ = ReadFileBytes(SourcePath(L"src\\documents\\resources\\empty_reference.xml"));
  ProvideReferenceSchema(folder + L"A_ref.xml");
  EXPECT_EQ(templ, ReadFileBytes(folder + L"A_ref.xml"));
  EXPECT_EQ(ReadFileBytes(SourcePath(L"src\\documents\\resources\\orvo_ref.xsd")), ReadFileBytes(folder + L"orvo_ref.xsd"));
  ASSERT_TRUE(WriteFileBytes(folder + L"orvo_ref.xsd", "changed"));
  ASSERT_TRUE(WriteFileBytes(folder + L"A_ref.xml", "kept"));
  ProvideReferenceSchema(folder + L"B_ref.xml");
  ProvideReferenceSchema(folder + L"A_ref.xml");
  EXPECT_EQ("changed", ReadFileBytes(folder + L"orvo_ref.xsd"));
  EXPECT_EQ("kept", ReadFileBytes(folder + L"A_ref.xml"));
  EXPECT_EQ(templ, ReadFileBytes(folder + L"B_ref.xml"));
}

}  // namespace
