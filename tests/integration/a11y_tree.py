"""Prints, as JSON, what a screen reader finds in an application (argument:
its name) through AT-SPI: each labelled widget's content (its text, a level
bar's value or its children's texts) by its label's text; "window", title and
place of their window; "windows", each window's title, place and label texts;
"menus", item texts by menu title. Run with the system python (pyatspi)."""

import json
import sys

import pyatspi


def content(node):
    if node.getRole() == pyatspi.ROLE_LEVEL_BAR:
        return node.queryValue().currentValue
    if node.getRole() == pyatspi.ROLE_LABEL:
        return node.name
    return [child.name for child in node if child is not None]


def walk(node, found, window):
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            found[relation.getTarget(0).name] = content(node)
            found["window"] = window[:2]
    if node.getRole() == pyatspi.ROLE_LABEL:
        window[2].append(node.name)
    elif node.getRole() == pyatspi.ROLE_MENU:
        found["menus"][node.name] = [item.name for item in node if item is not None]
    for child in node:
        if child is not None:
            walk(child, found, window)


found = {"windows": [], "menus": {}}
for application in pyatspi.Registry.getDesktop(0):
    if application is not None and application.name == sys.argv[1]:
        for window in application:
            place = window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            found["windows"].append([window.name, [place.x, place.y, place.width, place.height], []])
            walk(window, found, found["windows"][-1])
print(json.dumps(found))
