#pragma once

#include <QDomNode>

// Walks a DOM subtree in document order without recursion, so that a hostile
// reply nested very deeply cannot exhaust the stack.
namespace DomWalk {

// The node after `node` in document order below `root`, or a null node at the
// end. `left` is called with every element whose subtree ends on the way.
template <typename Left> QDomNode next(const QDomNode &node, const QDomNode &root, Left left) {
    if (node.hasChildNodes())
        return node.firstChild();
    QDomNode at = node;
    while (at.nextSibling().isNull()) {
        at = at.parentNode();
        if (at.isNull() || at == root)
            return QDomNode();
        left(at);
    }
    return at.nextSibling();
}

inline QDomNode next(const QDomNode &node, const QDomNode &root) {
    return next(node, root, [](const QDomNode &) {});
}

} // namespace DomWalk
