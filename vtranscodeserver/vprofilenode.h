#pragma once
// SVProfileNode: a node of a loaded profile database together with a counted reference to the
// document that holds it. The profile configuration hands nodes out and may replace its
// document at any time (a refresh, a new Init); a node handed out keeps its own document alive,
// so it stays valid and unchanged after the replacement. An empty node (no document) means
// "none".
//
// A loaded document is never changed, so any number of threads may read nodes of it at once.

#include <memory>

#include <pugixml.hpp>

struct SVProfileNode {
    std::shared_ptr<const pugi::xml_document> document;
    pugi::xml_node node;

    explicit operator bool() const { return document != nullptr && !node.empty(); }
};
