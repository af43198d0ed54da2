"""Reads the Velmor panel through the accessibility bus and prints what it shows, one line per
visible text or field, so the end-to-end test can check the status and the link as a user sees them."""
import sys

import pyatspi


def walk(node, depth=0):
    try:
        states = node.getState()
        if not states.contains(pyatspi.STATE_SHOWING):
            return
        role = node.getRoleName()
        name = node.name or ""
        text = ""
        try:
            iface = node.queryText()
            text = iface.getText(0, iface.characterCount)
        except NotImplementedError:
            pass
        if name or text:
            print(f"{role}\t{name}\t{text}")
        for i in range(node.childCount):
            walk(node.getChildAtIndex(i), depth + 1)
    except Exception:  # a widget that went away while being read
        return


desktop = pyatspi.Registry.getDesktop(0)
for index in range(desktop.childCount):
    app = desktop.getChildAtIndex(index)
    if app is not None and app.name and app.name.lower().startswith(sys.argv[1] if len(sys.argv) > 1 else "velmor"):
        walk(app)
