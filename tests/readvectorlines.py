#!/usr/bin/python3
"""Prints the polylines of a vector file written by dovoda-lines, one per line as "row,col," pairs
in image coordinates, reading each format with an independent reader:

  readvectorlines.py FILE.svg | FILE.json | FILE.dxf HEIGHT

SVG through the XML parser (the points of every <polyline>), JSON through the JSON parser, DXF through
ezdxf (the vertices of every POLYLINE, with y turned back into rows: row = HEIGHT - 1 - y)."""
import json
import sys
import xml.etree.ElementTree as ET


def svg_polylines(path):
    root = ET.parse(path).getroot()
    lines = []
    for element in root.iter("{http://www.w3.org/2000/svg}polyline"):
        pairs = [p.split(",") for p in element.get("points").split()]
        lines.append([(int(y), int(x)) for x, y in pairs])
    return lines, root.get("viewBox")


def json_polylines(path):
    with open(path) as f:
        data = json.load(f)
    return [[(y, x) for x, y in line] for line in data["polylines"]], "0 0 %d %d" % (data["width"], data["height"])


def dxf_polylines(path, height):
    import ezdxf
    doc = ezdxf.readfile(path)
    lines = []
    for entity in doc.modelspace():
        if entity.dxftype() == "POLYLINE":
            lines.append([(height - 1 - int(round(v.dxf.location.y)), int(round(v.dxf.location.x)))
                          for v in entity.vertices])
    return lines, doc.dxfversion


def main():
    path = sys.argv[1]
    if path.endswith(".svg"):
        lines, about = svg_polylines(path)
    elif path.endswith(".json"):
        lines, about = json_polylines(path)
    else:
        lines, about = dxf_polylines(path, int(sys.argv[2]))
    print(about)
    for line in lines:
        print("".join("%d,%d," % p for p in line))


if __name__ == "__main__":
    main()
