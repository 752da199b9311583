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

const std::string kUtf8Head = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";

std::string Utf16(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    out += char(c & 0xFF);
    out += char(c >> 8);
  }
  return out;
}

std::string RootWithSchema(const std::string& schema) {
  return "<DocumentRoot xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:noNamespaceSchemaLocation=\"./" +
         schema + "\">\r\n";
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}


class XmlFolder : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = ScratchFolder(L"xmldoc"); }
  void TearDown() override {
    PendingFile::FailWritesAfterForTesting(-1);
    RemoveTree(folder_);
  }
  std::wstring Write(const std::wstring& name, const std::string& bytes) {
    std::wstring path = folder_ + name;
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
  }
  std::wstring folder_;
};

// --- saving ---

TEST_F(XmlFolder, SavedDocumentIsUtf16WithMarkDeclarationIndentationAndCrLf) {
  std::wstring path = Write(L"plain.xml", kUtf8Head + "<DocumentRoot><A x=\"1\"><B>t\xC3\xA4</B></A><T>two\nlines</T></DocumentRoot>");
  XmlDocument document;
  ASSERT_NE(nullptr, document.Load(path));
  ASSERT_TRUE(document.Save(L"UTF-16", L"\r\n"));
  std::string expected = "\xFF\xFE" + Utf16(L"<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\" ?>\r\n"
                                            L"<DocumentRoot>\r\n"
                                            L"  <A x=\"1\">\r\n"
                                            L"    <B>t\u00e4</B>\r\n"
                                            L"  </A>\r\n"
                                            L"  <T>two\r\nlines</T>\r\n"
                                            L"</DocumentRoot>\r\n");
  std::string saved = ReadFileBytes(path);
  EXPECT_EQ(expected, saved);
  // Saving what was saved changes nothing, and no temporary file stays.
  XmlDocument again;
  ASSERT_NE(nullptr, again.Load(path));
  EXPECT_EQ(L"two\nlines", ChildText(again.root(), L"T"));
  ASSERT_TRUE(again.Save());
  EXPECT_EQ(saved, ReadFileBytes(path));
  EXPECT_EQ(std::vector<std::wstring>{L"plain.xml"}, FolderEntries(folder_));

  // Indentation read in is replaced by the writer's own.
  std::wstring odd = Write(L"odd.xml", kUtf8Head + "<DocumentRoot>\n      <A/>   \n\n <B>b</B></DocumentRoot>");
  XmlDocument oddDocument;
  ASSERT_NE(nullptr, oddDocument.Load(odd));
  ASSERT_TRUE(oddDocument.Save());
  EXPECT_EQ(L"<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\" ?>\r\n<DocumentRoot>\r\n  <A/>\r\n"
            L"  <B>b</B>\r\n</DocumentRoot>\r\n",
            ReadUtf16File(odd));
  // A removed element leaves no line behind.
  XmlDocument trimmed;
  ASSERT_NE(nullptr, trimmed.Load(odd));
  trimmed.root()->removeChild(FirstChildElement(trimmed.root(), L"A"));
  ASSERT_TRUE(trimmed.Save());
  EXPECT_EQ(L"<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\" ?>\r\n<DocumentRoot>\r\n"
            L"  <B>b</B>\r\n</DocumentRoot>\r\n",
            ReadUtf16File(odd));
}

TEST_F(XmlFolder, SaveOfReadOnlyFileClearsTheAttributeAndWrites) {
  std::wstring path = Write(L"ro.xml", kUtf8Head + "<DocumentRoot><A/></DocumentRoot>");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  XmlDocument document;
  DomDocument* dom = document.Load(path);
  ASSERT_NE(nullptr, dom);
  dom->getDocumentElement()->setAttribute(L"Saved", L"yes");
  ASSERT_TRUE(document.Save());
  DWORD attributes = GetFileAttributesW(path.c_str());
  EXPECT_EQ(0u, attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_NE(std::wstring::npos, ReadUtf16File(path).find(L"<DocumentRoot Saved=\"yes\">"));
}

TEST_F(XmlFolder, SaveWritesOnlyFilesThatExistAndNeverAFailedLoad) {
  std::wstring path = Write(L"gone.xml", kUtf8Head + "<DocumentRoot/>");
  XmlDocument document;
  ASSERT_NE(nullptr, document.Load(path));
  ASSERT_TRUE(DeleteFileW(path.c_str()));
  EXPECT_FALSE(document.Save());
  EXPECT_TRUE(FolderEntries(folder_).empty());

  // A broken document is forgotten: nothing is written back over it.
  std::string broken = kUtf8Head + "<DocumentRoot><Product></DocumentRoot>";
  std::wstring brokenPath = Write(L"broken.xml", broken);
  XmlDocument failed;
  EXPECT_EQ(nullptr, failed.Load(brokenPath));
  EXPECT_FALSE(failed.Save());
  EXPECT_EQ(broken, ReadFileBytes(brokenPath));

  // Nor after a first load of the same object succeeded.
  std::wstring goodPath = Write(L"good.xml", kUtf8Head + "<DocumentRoot/>");
  XmlDocument reused;
  ASSERT_NE(nullptr, reused.Load(goodPath));
  EXPECT_EQ(nullptr, reused.Load(brokenPath));
  EXPECT_EQ(nullptr, reused.document());
  EXPECT_FALSE(reused.Save());
  EXPECT_EQ(broken, ReadFileBytes(brokenPath));
}

TEST_F(XmlFolder, WriteFailingPartWayLeavesTheOldFileByteForByte) {
  std::string old = kUtf8Head + "<DocumentRoot>";
  for (int i = 0; i < 200; ++i) old += "<Product ProductCode=\"{" + std::to_string(i) + "}\"/>";
  old += "</DocumentRoot>";
  std::wstring path = Write(L"appIndex.xml", old);
  XmlDocument document;
  ASSERT_NE(nullptr, document.Load(path));
  // The disk fills after 100 bytes of the new content.
  PendingFile::FailWritesAfterForTesting(100);
  EXPECT_FALSE(document.Save());
  PendingFile::FailWritesAfterForTesting(-1);
  EXPECT_EQ(old, ReadFileBytes(path));
  EXPECT_EQ(std::vector<std::wstring>{L"appIndex.xml"}, FolderEntries(folder_));
  // The same document saves once the disk has room again.
  EXPECT_TRUE(document.Save());
  EXPECT_NE(std::wstring::npos, ReadUtf16File(path).find(L"<Product ProductCode=\"{199}\"/>"));
}

TEST_F(XmlFolder, WithoutAFileBesideTheTargetTheSaveIsStillWhole) {
  // Every name for a file beside the document is taken by a folder.
  std::wstring deep = folder_;
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(CreateDirectoryW((folder_ + L"a.xml.~" + std::to_wstring(i)).c_str(), nullptr));
  std::string old = kUtf8Head + "<DocumentRoot><A/></DocumentRoot>";
  std::wstring path = deep + L"a.xml";
  ASSERT_TRUE(WriteFileBytes(path, old));
  XmlDocument document;
  ASSERT_NE(nullptr, document.Load(path));
  document.root()->appendChild(document.document()->createElement(L"B"));
  PendingFile::FailWritesAfterForTesting(20);
  EXPECT_FALSE(document.Save());
  PendingFile::FailWritesAfterForTesting(-1);
  EXPECT_EQ(old, ReadFileBytes(path));
  ASSERT_TRUE(document.Save());
  EXPECT_EQ(L"<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\" ?>\r\n<DocumentRoot>\r\n  <A/>\r\n"
            L"  <B/>\r\n</DocumentRoot>\r\n",
            ReadUtf16File(path));
  EXPECT_EQ(9u, FolderEntries(deep).size());
}

TEST_F(XmlFolder, SerializerFailureLeavesTheOldFileByteForByte) {
  // Far more than one buffer of output precedes the element whose name the
  // encoding cannot represent, so the failure comes after real writes.
  std::string old = kUtf8Head + "<DocumentRoot>";
  for (int i = 0; i < 4000; ++i) old += "<Cabinet Name=\"cabinet" + std::to_string(i) + "\"/>";
  old += "</DocumentRoot>";
  std::wstring path = Write(L"big.xml", old);
  XmlDocument document;
  DomDocument* dom = document.Load(path);
  ASSERT_NE(nullptr, dom);
  dom->getDocumentElement()->appendChild(dom->createElement(L"Gr\u00f6\u00dfe"));
  EXPECT_FALSE(document.Save(L"US-ASCII", L"\r\n"));
  EXPECT_EQ(old, ReadFileBytes(path));
  EXPECT_FALSE(document.Save(L"no-such-encoding", L"\r\n"));
  EXPECT_EQ(old, ReadFileBytes(path));
  EXPECT_EQ(std::vector<std::wstring>{L"big.xml"}, FolderEntries(folder_));
}

TEST_F(XmlFolder, LoadClearsTheChangedMarkAndSaveKeepsIt) {
  std::wstring path = Write(L"mark.xml", kUtf8Head + "<DocumentRoot/>");
  XmlDocument document;
  EXPECT_FALSE(document.changed());
  ASSERT_NE(nullptr, document.Load(path));
  EXPECT_FALSE(document.changed());
  MarkChanged(document.document());
  EXPECT_TRUE(IsChanged(document.document()));
  ASSERT_TRUE(document.Save());
  EXPECT_TRUE(document.changed());
  XmlDocument reloaded;
  ASSERT_NE(nullptr, reloaded.Load(path));
  EXPECT_FALSE(reloaded.changed());
}

// --- element operations ---

class XmlElements : public XmlFolder {
 protected:
  DomElement* LoadRoot(const std::string& body) {
    std::wstring path = Write(L"elements.xml", kUtf8Head + body);
    DomDocument* dom = document_.Load(path);
    return dom ? dom->getDocumentElement() : nullptr;
  }
  XmlDocument document_;
};

TEST_F(XmlElements, TextIsTrimmedAndReplacedInsideItsWhiteSpace) {
  DomElement* root = LoadRoot("<R><E>\r\n   abc  </E><Inner><F>deep</F></Inner><C><![CDATA[  cd ]]></C><Empty/></R>");
  ASSERT_NE(nullptr, root);
  DomElement* e = FirstChildElement(root, L"E");
  EXPECT_EQ(L"abc", ElementText(e));
  EXPECT_TRUE(SetElementText(e, L"xyz"));
  EXPECT_EQ(L"\n   xyz  ", std::wstring(e->getTextContent()));
  EXPECT_EQ(L"xyz", ChildText(root, L"E"));
  // Text of child elements is not the element's text.
  EXPECT_EQ(L"", ElementText(FirstChildElement(root, L"Inner")));
  EXPECT_EQ(L"cd", ChildText(root, L"C"));
  EXPECT_EQ(L"", ChildText(root, L"Missing"));
  SetElementText(FirstChildElement(root, L"Empty"), L"filled");
  EXPECT_EQ(L"filled", ChildText(root, L"Empty"));
  // White space alone is emptied and the last text node takes the text.
  DomElement* spaced = LoadRoot("<R><S>\r\n  <X/>\r\n</S></R>");
  ASSERT_NE(nullptr, spaced);
  DomElement* s = FirstChildElement(spaced, L"S");
  SetElementText(s, L"new");
  EXPECT_EQ(L"new", std::wstring(s->getLastChild()->getNodeValue()));
  EXPECT_EQ(L"", std::wstring(s->getFirstChild()->getNodeValue()));
}

TEST_F(XmlElements, SetChildTextAppendsAMissingChildLast) {
  DomElement* root = LoadRoot("<R><A>1</A><B>2</B></R>");
  ASSERT_NE(nullptr, root);
  DomElement* a = SetChildText(root, L"A", L"one");
  EXPECT_EQ(FirstChildElement(root, L"A"), a);
  EXPECT_EQ(L"one", ChildText(root, L"A"));
  DomElement* c = SetChildText(root, L"C", L"three");
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(static_cast<DomNode*>(c), root->getLastChild());
  EXPECT_EQ(L"three", ChildText(root, L"C"));
}

TEST_F(XmlElements, LookupsCompareExactlyAndNeedTheAttribute) {
  DomElement* root = LoadRoot("<R><p Name=\"a\"/><P/><P Name=\"A\"/><P Name=\"\"/><P Name=\"a\" n=\"2\"/></R>");
  ASSERT_NE(nullptr, root);
  EXPECT_EQ(nullptr, FirstChildElement(root, L"Q"));
  EXPECT_EQ(L"", AttributeText(FirstChildElement(root, L"P"), L"Name"));
  EXPECT_EQ(L"2", AttributeText(FindChildElement(root, L"P", L"Name", L"a"), L"n"));
  DomElement* empty = FindChildElement(root, L"P", L"Name", L"");
  ASSERT_NE(nullptr, empty);
  EXPECT_TRUE(empty->hasAttribute(L"Name"));
  EXPECT_EQ(nullptr, FindChildElement(root, L"P", L"Name", L"b"));
}

TEST_F(XmlElements, SelectElementWalksStepsAfterLeadingSlashes) {
  DomElement* root = LoadRoot("<R><A><X/><B>found</B></A></R>");
  ASSERT_NE(nullptr, root);
  EXPECT_EQ(L"found", ElementText(SelectElement(root, L"//A/B")));
  EXPECT_EQ(L"found", ElementText(SelectElement(root, L"A/B")));
  EXPECT_EQ(FirstChildElement(root, L"A"), SelectElement(root, L"/A"));
  EXPECT_EQ(nullptr, SelectElement(root, L""));
  EXPECT_EQ(nullptr, SelectElement(root, L"///"));
  EXPECT_EQ(nullptr, SelectElement(root, L"A/C"));
  EXPECT_EQ(nullptr, SelectElement(root, L"B"));
}

TEST_F(XmlElements, NextInSequenceFollowsTheSequenceAttribute) {
  DomElement* root = LoadRoot(
      "<R><I Sequence=\"2\" n=\"two\"/><I n=\"none\"/><I Sequence=\"0\" n=\"zero\"/><I Sequence=\"-1\" n=\"neg\"/>"
      "<I Sequence=\" 5x\" n=\"five\"/></R>");
  ASSERT_NE(nullptr, root);
  DomNodeList* items = root->getChildNodes();
  std::vector<std::wstring> order;
  for (DomElement* e = NextInSequence(items, true); e; e = NextInSequence(items, false))
    order.push_back(AttributeText(e, L"n"));
  EXPECT_EQ((std::vector<std::wstring>{L"zero", L"two", L"five"}), order);
  EXPECT_EQ(nullptr, NextInSequence(items, false));
  EXPECT_EQ(L"zero", AttributeText(NextInSequence(items, true), L"n"));
  // A wide gap is crossed at once.
  DomElement* distant = LoadRoot("<R><I Sequence=\"2147483000\" n=\"far\"/><I Sequence=\"1\" n=\"one\"/></R>");
  ASSERT_NE(nullptr, distant);
  EXPECT_EQ(L"one", AttributeText(NextInSequence(distant->getChildNodes(), true), L"n"));
  EXPECT_EQ(L"far", AttributeText(NextInSequence(distant->getChildNodes(), false), L"n"));
  EXPECT_EQ(nullptr, NextInSequence(distant->getChildNodes(), false));
}

TEST_F(XmlElements, CopyElementCopiesElementsAttributesAndTrimmedText) {
  DomElement* root = LoadRoot(
      "<R><Pack Id=\"p\" Version=\"2\">\r\n  text  <!-- note --><Item Name=\"a\">x</Item><?pi data?><Item/></Pack></R>");
  ASSERT_NE(nullptr, root);
  XmlDocument target;
  std::wstring targetPath = Write(L"target.xml", kUtf8Head + "<Target/>");
  DomDocument* dom = target.Load(targetPath);
  ASSERT_NE(nullptr, dom);
  DomElement* copy = CopyElement(dom, FirstChildElement(root, L"Pack"));
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(nullptr, copy->getParentNode());
  EXPECT_EQ(dom, copy->getOwnerDocument());
  dom->getDocumentElement()->appendChild(copy);
  ASSERT_TRUE(target.Save(L"UTF-16", L"\n"));
  std::wstring saved = ReadUtf16File(targetPath);
  EXPECT_NE(std::wstring::npos,
            saved.find(L"<Pack Id=\"p\" Version=\"2\">text\n    <Item Name=\"a\">x</Item>\n    <Item/>\n  </Pack>\n"))
      << ToNarrow(saved);
  EXPECT_EQ(std::wstring::npos, saved.find(L"note"));
  EXPECT_EQ(std::wstring::npos, saved.find(L"pi"));
}

TEST_F(XmlElements, MarkedIdAttributeIsFoundById) {
  DomElement* root = LoadRoot(
      "<R><Product ProductCode=\"{A}\" n=\"1\"/><Product n=\"2\"/><Other ProductCode=\"{B}\"/>"
      "<Product ProductCode=\"{B}\" n=\"3\"/></R>");
  ASSERT_NE(nullptr, root);
  DomDocument* dom = root->getOwnerDocument();
  EXPECT_EQ(nullptr, dom->getElementById(L"{A}"));
  MarkIdAttribute(dom, L"Product", L"ProductCode");
  EXPECT_EQ(L"1", AttributeText(dom->getElementById(L"{A}"), L"n"));
  EXPECT_EQ(L"3", AttributeText(dom->getElementById(L"{B}"), L"n"));
}

// --- the error handler ---

TEST(DomErrorHandlerText, SeverityLineAndNodeMakeTheMessage) {
  ASSERT_TRUE(XmlDocument().initialized());
  XmlDocument holder;
  DomErrorHandler handler;
  xercesc::DOMImplementation* implementation = xercesc::DOMImplementationRegistry::getDOMImplementation(L"Core");
  DomDocument* dom = implementation->createDocument(nullptr, L"DocumentRoot", nullptr);
  DomElement* cabinet = dom->createElement(L"Cabinet");

  xercesc::DOMLocatorImpl atCabinet(12, 3, cabinet, L"file.xml");
  xercesc::DOMErrorImpl error(xercesc::DOMError::DOM_SEVERITY_ERROR, L"missing required attribute 'Name'", &atCabinet);
  EXPECT_FALSE(handler.handleError(error));
  EXPECT_TRUE(handler.failed());
  EXPECT_EQ(L"ERROR on line 12, node Cabinet\nmissing required attribute 'Name'", handler.lastMessage());

  xercesc::DOMLocatorImpl nowhere(7, 1, nullptr, L"file.xml");
  xercesc::DOMErrorImpl warning(xercesc::DOMError::DOM_SEVERITY_WARNING, L"just saying", &nowhere);
  EXPECT_TRUE(handler.handleError(warning));
  EXPECT_FALSE(handler.failed());
  EXPECT_EQ(L"WARNING on line 7\njust saying", handler.lastMessage());

  xercesc::DOMErrorImpl fatal(xercesc::DOMError::DOM_SEVERITY_FATAL_ERROR, L"broken", &nowhere);
  EXPECT_FALSE(handler.handleError(fatal));
  EXPECT_TRUE(handler.failed());
  EXPECT_EQ(L"FATAL ERROR on line 7\nbroken", handler.lastMessage());
  dom->release();
}

// --- validation against the embedded schemas ---

class SchemaValidation : public XmlFolder {
 protected:
  void SetUp() override {
    XmlFolder::SetUp();
    ASSERT_TRUE(WriteResourceFile(kReferenceSchema, folder_ + L"orvo_ref.xsd"));
    ASSERT_TRUE(WriteResourceFile(kAppIndexSchema, folder_ + L"appIndex.xsd"));
  }
  // Loads with full validation; the log lines are kept.
  bool Validate(const std::wstring& name, const std::string& schema, const std::string& body) {
    std::wstring path = Write(name, kUtf8Head + RootWithSchema(schema) + body + "</DocumentRoot>\r\n");
    XmlDocument document;
    DomDocument* dom = nullptr;
    log_.clear();
    bool loaded = LoadDocument(document, path, dom, [this](const std::wstring& text) { log_.push_back(text); });
    lastError_ = document.LastError();
    EXPECT_EQ(loaded, dom != nullptr);
    return loaded;
  }
  std::vector<std::wstring> log_;
  std::wstring lastError_;
};

TEST_F(SchemaValidation, ReferenceDocumentsValidate) {
  EXPECT_TRUE(Validate(L"full_ref.xml", "orvo_ref.xsd",
                       "<Cabinets>\r\n"
                       " <Cabinet Name=\"content.cab\">\r\n"
                       "  <ExtractionPath Path=\"C:\\Data\\Content\\\">\r\n"
                       "   <SubDirectory Path=\"\\\"><File ref=\"{P1}{P2}\" Name=\"a.txt\"/></SubDirectory>\r\n"
                       "   <SubDirectory Path=\"Sub\\\"><File ref=\"{P1}\" Name=\"b.txt\" hash=\"1;2;3;4;\"/></SubDirectory>\r\n"
                       "  </ExtractionPath>\r\n"
                       "  <ExtractionPath Path=\"D:\\\"/>\r\n"
                       " </Cabinet>\r\n"
                       " <Cabinet Name=\"other.cab\"/>\r\n"
                       "</Cabinets>\r\n"));
  EXPECT_TRUE(log_.empty());
  EXPECT_TRUE(Validate(L"empty_ref.xml", "orvo_ref.xsd", ""));
}

TEST_F(SchemaValidation, SchemaBesideADocumentInAnUnusualFolderIsFound) {
  // Per-user folders carry user names: non-ASCII letters, spaces, "#" and "%".
  std::wstring folder = folder_ + L"J\u00fcrgen M\u00fcller #1 100%\\";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(WriteResourceFile(kReferenceSchema, folder + L"orvo_ref.xsd"));
  std::wstring path = folder + L"A_ref.xml";
  ASSERT_TRUE(WriteFileBytes(path, kUtf8Head + RootWithSchema("orvo_ref.xsd") + "<Cabinets><Cabinet/></Cabinets></DocumentRoot>"));
  XmlDocument document;
  DomDocument* dom = nullptr;
  EXPECT_FALSE(LoadDocument(document, path, dom, [](const std::wstring&) {}));
  EXPECT_NE(std::wstring::npos, document.LastError().find(L"missing required attribute 'Name'"))
      << ToNarrow(document.LastError());
  ASSERT_TRUE(WriteFileBytes(path, kUtf8Head + RootWithSchema("orvo_ref.xsd") + "<Cabinets/></DocumentRoot>"));
  XmlDocument valid;
  EXPECT_TRUE(LoadDocument(valid, path, dom, [](const std::wstring&) {}));
  EXPECT_EQ(L"", valid.LastError());
  ASSERT_TRUE(valid.Save());
  EXPECT_NE(std::wstring::npos, ReadUtf16File(path).find(L"<Cabinets/>"));
}

TEST_F(SchemaValidation, ReferenceDocumentViolationsFail) {
  EXPECT_FALSE(Validate(L"no_name.xml", "orvo_ref.xsd", "<Cabinets>\r\n  <Cabinet>\r\n  </Cabinet>\r\n</Cabinets>\r\n"));
  EXPECT_EQ(0u, lastError_.find(L"ERROR on line 4")) << ToNarrow(lastError_);
  EXPECT_NE(std::wstring::npos, lastError_.find(L"\nmissing required attribute 'Name'")) << ToNarrow(lastError_);
  ASSERT_EQ(2u, log_.size());
  EXPECT_EQ(L" !=> Failed to load " + folder_ + L"no_name.xml", log_[0]);
  EXPECT_EQ(L"     > " + lastError_, log_[1]);

  EXPECT_FALSE(Validate(L"nesting.xml", "orvo_ref.xsd", "<Cabinets>\r\n<ExtractionPath Path=\"C:\\\"/></Cabinets>"));
  EXPECT_EQ(0u, lastError_.find(L"ERROR on line 4")) << ToNarrow(lastError_);
  EXPECT_NE(std::wstring::npos, lastError_.find(L"'ExtractionPath'")) << ToNarrow(lastError_);
  EXPECT_FALSE(Validate(L"file_ref.xml", "orvo_ref.xsd",
                        "<Cabinets><Cabinet Name=\"c\"><ExtractionPath Path=\"p\"><SubDirectory Path=\"\\\">"
                        "<File Name=\"f\"/></SubDirectory></ExtractionPath></Cabinet></Cabinets>"));
  EXPECT_NE(std::wstring::npos, lastError_.find(L"'ref'")) << ToNarrow(lastError_);
  EXPECT_FALSE(Validate(L"two_lists.xml", "orvo_ref.xsd", "<Cabinets/><Cabinets/>"));
  EXPECT_FALSE(Validate(L"file_at_path.xml", "orvo_ref.xsd",
                        "<Cabinets><Cabinet Name=\"c\"><ExtractionPath Path=\"p\"><File ref=\"r\" Name=\"f\"/>"
                        "</ExtractionPath></Cabinet></Cabinets>"));
}

TEST_F(SchemaValidation, ApplicationIndexValidates) {
  EXPECT_TRUE(Validate(L"full_index.xml", "appIndex.xsd",
                       "<Product ProductCode=\"{11111111-2222-3333-4444-555555555555}\">\r\n"
                       " <Properties><Property Name=\"INSTALLDIR\" Data=\"C:\\App\\\"/><Property Name=\"E\" Data=\"\"/>"
                       "</Properties>\r\n"
                       " <Directories><Directory Name=\"INSTALLDIR\" Data=\"C:\\App\\\"/>"
                       "<Directory Name=\"DATADIR\" Data=\"C:\\Users\\u\\\" Flags=\"3\"/></Directories>\r\n"
                       " <Users><User Name=\"u\"><Directories><Directory Name=\"DATADIR\" Data=\"C:\\Users\\u\\\" "
                       "Flags=\"1\"/></Directories></User></Users>\r\n"
                       "</Product>\r\n"
                       "<Product ProductCode=\"{B}\"><Properties/><Directories/></Product>\r\n"));
  EXPECT_TRUE(log_.empty());
  EXPECT_TRUE(Validate(L"empty_index.xml", "appIndex.xsd", ""));
}

TEST_F(SchemaValidation, ApplicationIndexViolationsFail) {
  EXPECT_FALSE(Validate(L"no_code.xml", "appIndex.xsd", "<Product>\r\n<Properties/><Directories/></Product>"));
  EXPECT_EQ(0u, lastError_.find(L"ERROR on line 3")) << ToNarrow(lastError_);
  EXPECT_NE(std::wstring::npos, lastError_.find(L"'ProductCode'")) << ToNarrow(lastError_);
  EXPECT_FALSE(Validate(L"order.xml", "appIndex.xsd", "<Product ProductCode=\"{A}\"><Directories/><Properties/></Product>"));
  EXPECT_EQ(0u, lastError_.find(L"ERROR on line")) << ToNarrow(lastError_);
  EXPECT_FALSE(Validate(L"no_properties.xml", "appIndex.xsd", "<Product ProductCode=\"{A}\"><Directories/></Product>"));
  EXPECT_FALSE(Validate(L"no_data.xml", "appIndex.xsd",
                        "<Product ProductCode=\"{A}\"><Properties/><Directories><Directory Name=\"D\"/></Directories>"
                        "</Product>"));
  EXPECT_NE(std::wstring::npos, lastError_.find(L"'Data'")) << ToNarrow(lastError_);
  EXPECT_FALSE(Validate(L"flags.xml", "appIndex.xsd",
                        "<Product ProductCode=\"{A}\"><Properties/><Directories><Directory Name=\"D\" Data=\"x\" "
                        "Flags=\"256\"/></Directories></Product>"));
  EXPECT_FALSE(Validate(L"user.xml", "appIndex.xsd",
                        "<Product ProductCode=\"{A}\"><Properties/><Directories/><Users><User Name=\"u\"/></Users>"
                        "</Product>"));
  EXPECT_FALSE(Validate(L"stray.xml", "appIndex.xsd", "<Properties/>"));
}

TEST_F(SchemaValidation, WarningAloneLoadsAndMissingFileIsLogged) {
  // A schema that cannot be found locally is a warning: the load stands.
  EXPECT_TRUE(Validate(L"no_schema.xml", "missing.xsd", "<Anything/>"));
  EXPECT_EQ(0u, lastError_.find(L"WARNING on line")) << ToNarrow(lastError_);
  EXPECT_TRUE(log_.empty());

  XmlDocument document;
  DomDocument* dom = reinterpret_cast<DomDocument*>(1);
  std::vector<std::wstring> log;
  std::wstring path = folder_ + L"nothing.xml";
  EXPECT_FALSE(LoadDocument(document, path, dom, [&](const std::wstring& text) { log.push_back(text); }));
  EXPECT_EQ(nullptr, dom);
  EXPECT_EQ(std::vector<std::wstring>{L"   !=> File not avaliable to parse: " + path}, log);
  EXPECT_EQ(L"", document.LastError());
}

// --- embedded documents ---

TEST_F(XmlFolder, EmbeddedDocumentsAreWrittenByteForByte) {
  const struct {
    int id;
    const wchar_t* source;
  } resources[] = {{kEmptyReferenceDocument, L"empty_reference.xml"},
                   {kReferenceSchema, L"orvo_ref.xsd"},
                   {kEmptyAppIndex, L"empty_app_index.xml"},
                   {kAppIndexSchema, L"appIndex.xsd"}};
  for (const auto& resource : resources) {
    SCOPED_TRACE(ToNarrow(resource.source));
    std::string source = ReadFileBytes(SourcePath(L"src\\documents\\resources\\") + resource.source);
    ASSERT_GT(source.size(), 3u);
    EXPECT_EQ("\xEF\xBB\xBF", source.substr(0, 3));
    for (size_t at = source.find('\n'); at != std::string::npos; at = source.find('\n', at + 1))
      ASSERT_TRUE(at > 0 && source[at - 1] == '\r') << "bare line feed at " << at;
    std::wstring target = folder_ + L"new\\deeper\\" + resource.source;
    ASSERT_TRUE(WriteResourceFile(resource.id, target));
    EXPECT_EQ(source, ReadFileBytes(target));
  }
  EXPECT_FALSE(WriteResourceFile(4999, folder_ + L"none.xml"));
  EXPECT_FALSE(FileExists(folder_ + L"none.xml"));

  // The empty documents validate against their schemas.
  XmlDocument reference, index;
  DomDocument* dom = nullptr;
  EXPECT_TRUE(LoadDocument(reference, folder_ + L"new\\deeper\\empty_reference.xml", dom, [](const std::wstring&) {}));
  EXPECT_TRUE(LoadDocument(index, folder_ + L"new\\deeper\\empty_app_index.xml", dom, [](const std::wstring&) {}));
  EXPECT_EQ(L"", index.LastError());
  ASSERT_NE(nullptr, dom);
  EXPECT_EQ(DomNode::COMMENT_NODE, dom->getFirstChild()->getNodeType());
  EXPECT_EQ(L"./appIndex.xsd", AttributeText(dom->getDocumentElement(), L"xsi:noNamespaceSchemaLocation"));
}

TEST_F(XmlFolder, ReferenceSchemaIsProvidedOncePerFolder) {
  std::wstring first = folder_ + L"Orvos\\A_ref.xml";
  std::wstring second = folder_ + L"Orvos\\B_ref.xml";
  std::wstring schema = folder_ + L"Orvos\\orvo_ref.xsd";
  std::string templ = ReadFileBytes(SourcePath(L"src\\documents\\resources\\empty_reference.xml"));
  ProvideReferenceSchema(first);
  EXPECT_EQ(templ, ReadFileBytes(first));
  EXPECT_EQ(ReadFileBytes(SourcePath(L"src\\documents\\resources\\orvo_ref.xsd")), ReadFileBytes(schema));
  ASSERT_TRUE(WriteFileBytes(schema, "changed"));
  ASSERT_TRUE(WriteFileBytes(first, "kept"));
  ProvideReferenceSchema(second);
  ProvideReferenceSchema(first);
  EXPECT_EQ("changed", ReadFileBytes(schema));
  EXPECT_EQ("kept", ReadFileBytes(first));
  EXPECT_EQ(templ, ReadFileBytes(second));
}

}  // namespace
