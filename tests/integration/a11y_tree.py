"""Prints, as one JSON object, what a screen reader finds in an application's
windows through AT-SPI: for every widget labelled by another, the label's
text and the widget's content (its text, its value for a level bar, or its
children's texts), and the window titles. Run with the system python, which
has pyatspi, on the session bus of the application (argument: its name)."""

import json
import sys

import pyatspi


def content(node):
    try:
        return node.queryValue().currentValue
    except NotImplementedError:
        pass
    if node.getRole() == pyatspi.ROLE_LABEL:
        return node.name
    return [child.name for child in node if child is not None]


def walk(node, found):
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            found[relation.getTarget(0).name] = content(node)
    for child in node:
        if child is not None:
            walk(child, found)


def main(name):
    for application in pyatspi.Registry.getDesktop(0):
        if application is not None and application.name == name:
            labelled = {}
            walk(application, labelled)
            print(json.dumps({"windows": [w.name for w in application], "labelled": labelled}))
            return 0
    print(json.dumps(None))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
