#pragma once
// A standard XML reader for the tests of the XML writer and of exception texts: expat with
// namespace processing, as Python's xml.etree reads a document. Stateless; any thread.

#include <map>
#include <string>
#include <string_view>

// Empty when the reader accepts text as a well-formed document; otherwise its error and line.
std::string StandardReaderError(std::wstring_view text);

// The attributes of the document element as the standard reader reports them (UTF-8 name to
// UTF-8 value); empty when the text is not well-formed.
std::map<std::string, std::string> StandardReaderRootAttributes(std::wstring_view text);
