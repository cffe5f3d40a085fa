#!/usr/bin/python3
"""A small client of Evolution Data Server on its own API (python3-gi): the
second opinion of the EDS tests and the benchmark's comparison.

  eds_client.py warm                                  starts EDS's services
  eds_client.py add-source events|tasks NAME COLOR   prints the new source's uid
  eds_client.py receive SOURCE events|tasks FILE      stores a .ics file's items
  eds_client.py objects SOURCE events|tasks           prints every item as iCalendar
  eds_client.py remove SOURCE events|tasks UID        removes an item
  eds_client.py instances FROM TO [REPEAT]            occurrences of every calendar (epoch seconds)
SOURCE is a source uid or "default".
"""
import json
import os
import sys
import time

import gi

gi.require_version("EDataServer", "1.2")
gi.require_version("ECal", "2.0")
gi.require_version("ICalGLib", "3.0")
from gi.repository import ECal, EDataServer, ICalGLib  # noqa: E402

WAIT = 4294967295  # (guint32)-1: a wait of 0 never returns


def registry():
    return EDataServer.SourceRegistry.new_sync(None)


def source_type(kind):
    return ECal.ClientSourceType.TASKS if kind == "tasks" else ECal.ClientSourceType.EVENTS


def find_source(reg, uid, kind):
    if uid == "default":
        return reg.ref_default_task_list() if kind == "tasks" else reg.ref_default_calendar()
    return reg.ref_source(uid)


def client_for(reg, uid, kind):
    return ECal.Client.connect_sync(find_source(reg, uid, kind), source_type(kind), WAIT, None)


def add_source(kind, name, color):
    reg = registry()
    source = EDataServer.Source.new(None, None)
    source.set_parent("local-stub")
    source.set_display_name(name)
    extension = source.get_extension(
        EDataServer.SOURCE_EXTENSION_TASK_LIST if kind == "tasks" else EDataServer.SOURCE_EXTENSION_CALENDAR)
    extension.set_backend_name("local")
    extension.set_color(color)
    reg.commit_source_sync(source, None)
    for _ in range(200):
        if reg.ref_source(source.get_uid()):
            break
        time.sleep(0.01)
    print(source.get_uid())


def receive(uid, kind, path):
    client = client_for(registry(), uid, kind)
    with open(path, encoding="utf-8") as file:
        calendar = ICalGLib.Component.new_from_string(file.read())
    zone = calendar.get_first_component(ICalGLib.ComponentKind.VTIMEZONE_COMPONENT)
    while zone:
        timezone = ICalGLib.Timezone.new()
        timezone.set_component(zone.clone())
        client.add_timezone_sync(timezone, None)
        zone = calendar.get_next_component(ICalGLib.ComponentKind.VTIMEZONE_COMPONENT)
    wanted = ICalGLib.ComponentKind.VTODO_COMPONENT if kind == "tasks" else ICalGLib.ComponentKind.VEVENT_COMPONENT
    items = []
    item = calendar.get_first_component(wanted)
    while item:
        items.append(item.clone())
        item = calendar.get_next_component(wanted)
    masters = [item for item in items if not item.get_first_property(ICalGLib.PropertyKind.RECURRENCEID_PROPERTY)]
    detached = [item for item in items if item.get_first_property(ICalGLib.PropertyKind.RECURRENCEID_PROPERTY)]
    for start in range(0, len(masters), 500):
        client.create_objects_sync(masters[start:start + 500], ECal.OperationFlags.NONE, None)
    for item in detached:
        client.modify_object_sync(item, ECal.ObjModType.THIS, ECal.OperationFlags.NONE, None)


def objects(uid, kind):
    client = client_for(registry(), uid, kind)
    ok, items = client.get_object_list_as_comps_sync("#t", None)
    print(json.dumps([item.get_as_string() for item in items]))


def remove(uid, kind, item):
    client = client_for(registry(), uid, kind)
    client.remove_object_sync(item, None, ECal.ObjModType.ALL, ECal.OperationFlags.NONE, None)


def instances(begin, end, repeat=1):
    reg = registry()
    clients = [ECal.Client.connect_sync(source, ECal.ClientSourceType.EVENTS, WAIT, None)
               for source in reg.list_enabled(EDataServer.SOURCE_EXTENSION_CALENDAR)]
    # Dates and floating times in the zone the helper reads them in (TZ).
    local = ICalGLib.Timezone.get_builtin_timezone(os.environ.get("TZ", "")) or ICalGLib.Timezone.get_utc_timezone()
    for client in clients:
        client.set_default_timezone(local)
    times = []
    for _ in range(repeat):
        found = []
        started = time.monotonic()
        for client in clients:
            def collect(component, start, stop, *unused):
                found.append({
                    "title": component.get_summary() or "",
                    "start": start.as_timet_with_zone(start.get_timezone() or local),
                    "end": stop.as_timet_with_zone(stop.get_timezone() or local),
                })
                return True
            client.generate_instances_sync(int(begin), int(end), None, collect)
        times.append(time.monotonic() - started)
    print(json.dumps({"instances": found, "seconds": times}))


def warm():
    reg = registry()
    for kind in ("events", "tasks"):
        client_for(reg, "default", kind)


def main(argv):
    command, arguments = argv[1], argv[2:]
    {"warm": warm, "add-source": add_source, "receive": receive, "objects": objects, "remove": remove,
     "instances": lambda *values: instances(values[0], values[1], int(values[2]) if len(values) > 2 else 1),
     }[command](*arguments)


if __name__ == "__main__":
    main(sys.argv)
