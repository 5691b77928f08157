#pragma once
// CVProfilePath: selection of elements of a profile database by a path of child steps
// ("video/support/type"; a leading "/" starts at the document), which is every path the
// profile lookups use. The elements are visited in document order, as an XPath 1.0 selection of
// the same path returns them, but without compiling or allocating a node set: a lookup runs on
// every decision and the database holds a few hundred devices.
//
//     CVProfilePath::ForEach(device, "video/support/type", [&](pugi::xml_node type) {
//         return !Matches(type);   // false stops the walk
//     });
//
// An empty step ("a//b") selects nothing. Stateless; any thread may walk a document that nobody
// changes.

#include <string_view>

#include <pugixml.hpp>

class CVProfilePath {
public:
    // Calls visit(element) for each element at path below start, in document order, until
    // visit returns false. Returns false when a visit stopped the walk.
    template <class Visit>
    static bool ForEach(pugi::xml_node start, std::string_view path, Visit&& visit) {
        if (path.starts_with('/')) {
            start = start.root();
            path.remove_prefix(1);
        }
        return Walk(start, path, visit);
    }

    // The first element at path below start in document order that accept(element) takes; an
    // empty node when none.
    template <class Accept>
    static pugi::xml_node SelectFirst(pugi::xml_node start, std::string_view path,
                                      Accept&& accept) {
        pugi::xml_node found;
        ForEach(start, path, [&](pugi::xml_node element) {
            if (!accept(element)) {
                return true;
            }
            found = element;
            return false;
        });
        return found;
    }

    // The first element at path below start in document order; an empty node when none.
    static pugi::xml_node SelectFirst(pugi::xml_node start, std::string_view path) {
        return SelectFirst(start, path, [](pugi::xml_node) { return true; });
    }

private:
    template <class Visit>
    static bool Walk(pugi::xml_node node, std::string_view path, Visit& visit) {
        const size_t slash = path.find('/');
        const std::string_view step = path.substr(0, slash);
        if (step.empty()) {
            return true;
        }
        for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
            if (child.type() != pugi::node_element || step != child.name()) {
                continue;
            }
            const bool goOn = slash == std::string_view::npos
                                  ? visit(child)
                                  : Walk(child, path.substr(slash + 1), visit);
            if (!goOn) {
                return false;
            }
        }
        return true;
    }
};
