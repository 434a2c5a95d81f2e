"""Prints, as one JSON object, what a screen reader finds in an application
(argument: its name) through AT-SPI: every widget labelled by another, by the
label's text, with its content (its text, a level bar's value, or its
children's texts); "windows", each window's title and the texts of its
labels; "menus", each menu's item texts by its title. Run with the system
python, which has pyatspi, on the application's session bus."""

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


def walk(node, found, labels):
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            found[relation.getTarget(0).name] = content(node)
    if node.getRole() == pyatspi.ROLE_LABEL:
        labels.append(node.name)
    elif node.getRole() == pyatspi.ROLE_MENU:
        found["menus"][node.name] = [item.name for item in node if item is not None]
    for child in node:
        if child is not None:
            walk(child, found, labels)


def main(name):
    found = None
    for application in pyatspi.Registry.getDesktop(0):
        if application is not None and application.name == name:
            found = {"windows": [], "menus": {}}
            for window in application:
                found["windows"].append([window.name, []])
                walk(window, found, found["windows"][-1][1])
    print(json.dumps(found))


if __name__ == "__main__":
    main(sys.argv[1])
