"""Reads and drives the Velmor panel through the accessibility bus, as assistive technology would.
  a11y.py dump          one line per visible element: role, name, text
  a11y.py focus NAME    gives the keyboard focus to the element called NAME
  a11y.py press NAME    presses the button called NAME
  a11y.py text NAME     prints the text of the element called NAME
  a11y.py value NAME    prints the current value of the element called NAME (a meter, a bar)
Exits 1 when the element is not found."""
import sys

import pyatspi


def app():
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        candidate = desktop.getChildAtIndex(index)
        if candidate is not None and (candidate.name or "").lower().startswith("velmor"):
            return candidate
    return None


def visible(node):
    try:
        return node.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:  # an element that went away while being read
        return False


def walk(node):
    if node is None or not visible(node):
        return
    yield node
    for i in range(node.childCount):
        yield from walk(node.getChildAtIndex(i))


def text_of(node):
    try:
        iface = node.queryText()
        return iface.getText(0, iface.characterCount)
    except NotImplementedError:
        return ""


def find(name):
    for node in walk(app()):
        if node.name == name:
            return node
    return None


command = sys.argv[1]
if command == "dump":
    for node in walk(app()):
        if node.name or text_of(node):
            print(f"{node.getRoleName()}\t{node.name}\t{text_of(node)}")
    sys.exit(0)
target = find(sys.argv[2])
if target is None:
    sys.exit(1)
if command == "focus":
    target.queryComponent().grabFocus()
elif command == "press":
    target.queryAction().doAction(0)
elif command == "text":
    print(text_of(target))
elif command == "value":
    print(target.queryValue().currentValue)
