"""Runs one Swift server (account, container, object or proxy) for the
test store that tests/s3/swift-store starts.

Usage (Debian's /usr/bin/python3, which has python3-swift):
    swift_server.py SWIFT_DIR CONF SECTION LISTEN_FD

The listening socket is bound by swift-store before the rings are written
and handed down as LISTEN_FD, so no other program can take the port between
choosing it and serving on it. The server runs in this one process
(workers = 0), so swift-store's PID for it is the whole server.
"""
import logging
import sys


class _NoCache(object):
    """What the proxy sees when memcached is configured but down: every
    lookup misses, every store is dropped. tempauth refuses to run without
    some cache in the request, and a daemon of its own would be one more
    process and port for nothing: the proxy then asks the account and
    container servers each time, which is always up to date."""

    def get(self, key, raise_on_error=False):
        return None

    def set(self, key, value, serialize=True, time=0, min_compress_len=0,
            raise_on_error=False):
        pass

    def delete(self, key, server_key=None):
        pass

    def incr(self, key, delta=1, time=0):
        return delta

    def decr(self, key, delta=1, time=0):
        return 0

    def get_multi(self, keys, server_key):
        return [None] * len(keys)

    def set_multi(self, mapping, server_key, serialize=True, time=0,
                  min_compress_len=0):
        pass


def cache_filter(global_conf, **local_conf):
    """paste.deploy filter factory (`use = call:swift_server:cache_filter`)."""
    cache = _NoCache()

    def make(app):
        def middleware(env, start_response):
            env['swift.cache'] = cache
            return app(env, start_response)
        return middleware
    return make


def main(argv):
    if len(argv) != 5:
        sys.stderr.write('usage: swift_server.py SWIFT_DIR CONF SECTION '
                         'LISTEN_FD\n')
        return 2
    swift_dir, conf, section, fd = argv[1], argv[2], argv[3], int(argv[4])

    # Green the threading module before anything makes locks: eventlet
    # otherwise hunts down every lock made so far with a full garbage
    # collection for each, a third of a second of each server's start.
    import eventlet
    eventlet.patcher.monkey_patch(all=False, socket=True, select=True,
                                  thread=True)
    from swift.common import utils, wsgi
    # swift.conf (the hash path suffix, the storage policy) is read from
    # /etc/swift unless told otherwise; the test store keeps its own.
    utils.set_swift_dir(swift_dir)

    # Logs go to stderr, which swift-store sends to a file of the store's
    # folder; Swift would otherwise also send every line to syslog, or by
    # UDP to port 514 where there is no /dev/log.
    utils.ThreadSafeSysLogHandler = lambda *args, **kwargs: \
        logging.NullHandler()

    def inherited_socket(conf):
        from eventlet.green import socket
        return socket.socket(fileno=fd)
    wsgi.get_socket = inherited_socket

    return wsgi.run_wsgi(conf, section, verbose=True)


if __name__ == '__main__':
    sys.exit(main(sys.argv))
