#!/usr/bin/env bash
# The local update server (HTTP on 127.0.0.1:8085, FTP on 2121) for the tests
# of one build folder, serving BUILD/www; beside it a plain web server
# (Python's http.server on 127.0.0.1:8086) serving the same folder, so that
# a test can fetch a release the way an ordinary web host serves it, and
# nginx (127.0.0.1:8087) serving it again with tools/nginx-release.conf, the
# configuration the README's publishing guide gives.
#
#   test-servers.sh start BUILD_DIR
#   test-servers.sh stop BUILD_DIR
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/fail-trap.sh"

cmd=${1:?command}
BUILD=$(cd "${2:?build folder}" && pwd)
STATE="$BUILD/harness"
ROOT="$BUILD/www"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
HTTP_PORT=${QZ_HTTP_PORT:-8085}
FTP_PORT=${QZ_FTP_PORT:-2121}
PLAIN_PORT=${QZ_PLAIN_PORT:-8086}
NGINX_PORT=${QZ_NGINX_PORT:-8087}
qz_on_error() { tail -n 15 "$STATE/server.log" "$STATE/plain.log" "$STATE/nginx/error.log" 2>/dev/null || true; }

# The sample server block with this run's port and folder, inside the least
# top-level configuration nginx needs to run unprivileged files from STATE.
nginx_conf() {
  local dir="$STATE/nginx"
  mkdir -p "$dir/tmp"
  sed -e "s|listen 127.0.0.1:8087;|listen 127.0.0.1:$NGINX_PORT;|" -e "s|root /srv/qz-updates;|root $ROOT;|" \
    "$HERE/../tools/nginx-release.conf" >"$dir/site.conf"
  {
    # As root, nginx's workers would change to nobody, who may not read ROOT.
    [ "$(id -u)" -eq 0 ] && echo "user root;"
    cat <<CONF
daemon off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 64; }
http {
    include /etc/nginx/mime.types;
    default_type application/octet-stream;
    log_format qz '\$connection \$uri \$status \$body_bytes_sent \$request_method "\$http_range" "\$http_if_range"';
    access_log $dir/access.log qz;
    client_body_temp_path $dir/tmp/body;
    proxy_temp_path $dir/tmp/proxy;
    fastcgi_temp_path $dir/tmp/fastcgi;
    uwsgi_temp_path $dir/tmp/uwsgi;
    scgi_temp_path $dir/tmp/scgi;
    include $dir/site.conf;
}
CONF
  } >"$dir/nginx.conf"
  echo "$dir/nginx.conf"
}

stop_one() {
  if [ -f "$1" ]; then
    pid=$(cat "$1")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    rm -f "$1"
  fi
}
stop() { stop_one "$STATE/server.pid"; stop_one "$STATE/plain.pid"; stop_one "$STATE/nginx.pid"; }

case $cmd in
  start)
    mkdir -p "$STATE" "$ROOT"
    stop
    for port in "$HTTP_PORT" "$PLAIN_PORT" "$NGINX_PORT"; do
      if curl -s -o /dev/null "http://127.0.0.1:$port/"; then
        echo "test-servers: port $port is taken by another program" >&2
        exit 1
      fi
    done
    setsid /usr/bin/python3 -m http.server "$PLAIN_PORT" --bind 127.0.0.1 --directory "$ROOT" \
      </dev/null >"$STATE/plain.log" 2>&1 &
    echo $! >"$STATE/plain.pid"
    conf=$(nginx_conf)
    setsid /usr/sbin/nginx -p "$STATE/nginx" -c "$conf" -e "$STATE/nginx/error.log" </dev/null >"$STATE/nginx.log" 2>&1 &
    echo $! >"$STATE/nginx.pid"
    # Debian's python3: pyftpdlib is installed there.
    setsid /usr/bin/python3 "$HERE/../tools/update_server.py" --root "$ROOT" --port "$HTTP_PORT" \
      --ftp-port "$FTP_PORT" --pidfile "$STATE/server.pid" </dev/null >"$STATE/server.log" 2>&1 &
    for _ in $(seq 100); do
      curl -s -o /dev/null "http://127.0.0.1:$HTTP_PORT/__qz/stats" &&
        curl -s -o /dev/null "http://127.0.0.1:$PLAIN_PORT/" &&
        curl -s -o /dev/null "http://127.0.0.1:$NGINX_PORT/" && { echo "test-servers: up"; exit 0; }
      sleep 0.1
    done
    echo "test-servers: the server did not start" >&2
    cat "$STATE/server.log" "$STATE/plain.log" "$STATE/nginx.log" "$STATE/nginx/error.log" >&2 2>/dev/null || true
    exit 1
    ;;
  stop) stop; echo "test-servers: stopped" ;;
  *) echo "test-servers: unknown command $cmd" >&2; exit 2 ;;
esac
