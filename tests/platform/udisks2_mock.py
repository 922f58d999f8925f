'''A small stand-in for the desktop's disk service (UDisks2) for python3-dbusmock.

Loaded with `python3 -m dbusmock --system --template udisks2_mock.py`. It serves the object
manager at /org/freedesktop/UDisks2 and, through the extra methods below on the manager object,
lets a test insert and pull cards:

  AddCard(name, label, fstype, removable, mountpoint, target)  a drive and one file system on
      it, mounted at mountpoint ("" unmounted); Mount mounts it at target
  RemoveCard(name)                                     the card is pulled
  SetMountPoint(name, mountpoint)                      mounted ("" unmounted) by someone else
  Stall(seconds)                                       answers at once, then answers nothing
      (no call, no signal) for that long, as a hung service does

The Filesystem interface of each card answers Mount, Unmount and SetLabel as the service does,
including its errors for a card that is already (or not) mounted.
'''

import os

import dbus

from dbusmock import mockobject

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2'
MAIN_IFACE = 'org.freedesktop.UDisks2.Manager'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

BLOCK_IFACE = 'org.freedesktop.UDisks2.Block'
FS_IFACE = 'org.freedesktop.UDisks2.Filesystem'
DRIVE_IFACE = 'org.freedesktop.UDisks2.Drive'


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'Version': '2.9.4'}, signature='sv'))


def _bytes(text):
    return dbus.Array([dbus.Byte(b) for b in text.encode() + b'\0'], signature='y')


def _mount_points(path):
    if not path:
        return dbus.Array([], signature='ay')
    return dbus.Array([_bytes(path)], signature='ay')


def _block_path(name):
    return f'{MAIN_OBJ}/block_devices/{name}'


def _drive_path(name):
    return f'{MAIN_OBJ}/drives/card_{name}'


def _set_mount_point(obj, path):
    obj.props[FS_IFACE]['MountPoints'] = _mount_points(path)
    obj.EmitSignal('org.freedesktop.DBus.Properties', 'PropertiesChanged', 'sa{sv}as',
                   [FS_IFACE, dbus.Dictionary({'MountPoints': _mount_points(path)},
                                              signature='sv'), dbus.Array([], signature='s')])


# The Filesystem methods run with `self` = the card's block object.
MOUNT_CODE = '''
import os
if len(self.props['org.freedesktop.UDisks2.Filesystem']['MountPoints']) > 0:
    raise dbus.exceptions.DBusException('Device is already mounted',
                                        name='org.freedesktop.UDisks2.Error.AlreadyMounted')
target = self.mount_target
os.makedirs(target, exist_ok=True)
point = dbus.Array([dbus.Byte(b) for b in target.encode() + b'\\0'], signature='y')
self.props['org.freedesktop.UDisks2.Filesystem']['MountPoints'] = dbus.Array([point], signature='ay')
self.EmitSignal('org.freedesktop.DBus.Properties', 'PropertiesChanged', 'sa{sv}as',
                ['org.freedesktop.UDisks2.Filesystem',
                 {'MountPoints': self.props['org.freedesktop.UDisks2.Filesystem']['MountPoints']}, []])
ret = target
'''

UNMOUNT_CODE = '''
if len(self.props['org.freedesktop.UDisks2.Filesystem']['MountPoints']) == 0:
    raise dbus.exceptions.DBusException('Device is not mounted',
                                        name='org.freedesktop.UDisks2.Error.NotMounted')
self.props['org.freedesktop.UDisks2.Filesystem']['MountPoints'] = dbus.Array([], signature='ay')
self.EmitSignal('org.freedesktop.DBus.Properties', 'PropertiesChanged', 'sa{sv}as',
                ['org.freedesktop.UDisks2.Filesystem',
                 {'MountPoints': dbus.Array([], signature='ay')}, []])
'''

SET_LABEL_CODE = '''
if len(args[0]) > 11:
    raise dbus.exceptions.DBusException('Label too long', name='org.freedesktop.UDisks2.Error.Failed')
self.props['org.freedesktop.UDisks2.Block']['IdLabel'] = args[0]
'''


@dbus.service.method(MAIN_IFACE, in_signature='sssbss', out_signature='o')
def AddCard(self, name, label, fstype, removable, mountpoint, target):
    drive = _drive_path(name)
    self.AddObject(drive, DRIVE_IFACE, {
        'Removable': dbus.Boolean(removable),
        'MediaRemovable': dbus.Boolean(removable),
        'Ejectable': dbus.Boolean(removable),
        'ConnectionBus': 'usb' if removable else '',
        'Model': 'Card Reader',
    }, [])
    block = _block_path(name)
    self.AddObject(block, BLOCK_IFACE, {
        'Device': _bytes('/dev/' + name),
        'PreferredDevice': _bytes('/dev/' + name),
        'Drive': dbus.ObjectPath(drive),
        'IdLabel': label,
        'IdType': fstype,
        'IdUsage': 'filesystem',
        'HintIgnore': dbus.Boolean(False),
        'HintSystem': dbus.Boolean(not removable),
        'ReadOnly': dbus.Boolean(False),
        'Size': dbus.UInt64(8 << 30),
    }, [])
    obj = mockobject.objects[block]
    obj.mount_target = str(target)
    obj.AddProperties(FS_IFACE, dbus.Dictionary({'MountPoints': _mount_points(mountpoint)},
                                                signature='sv'))
    obj.AddMethods(FS_IFACE, [
        ('Mount', 'a{sv}', 's', MOUNT_CODE),
        ('Unmount', 'a{sv}', '', UNMOUNT_CODE),
        ('SetLabel', 'sa{sv}', '', SET_LABEL_CODE),
    ])
    self.object_manager_emit_added(drive)
    self.object_manager_emit_added(block)
    return dbus.ObjectPath(block)


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='')
def RemoveCard(self, name):
    for path in (_block_path(name), _drive_path(name)):
        self.object_manager_emit_removed(path)
        self.RemoveObject(path)


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='')
def SetMountPoint(self, name, mountpoint):
    if mountpoint:
        os.makedirs(mountpoint, exist_ok=True)
    _set_mount_point(mockobject.objects[_block_path(name)], mountpoint)


@dbus.service.method(MAIN_IFACE, in_signature='d', out_signature='')
def Stall(self, seconds):
    import time
    from gi.repository import GLib

    def hang():
        time.sleep(seconds)
        return False
    GLib.idle_add(hang)
