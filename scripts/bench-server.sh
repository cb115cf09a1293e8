# Sourced by the bench scripts: installs what they need and serves "$work/www" with nginx on
# loopback at "$url", logging "$connection $status $uri $body_bytes_sent" to "$work/access.log".
# The caller sets $work and stops the server with bench_server_stop (also done on exit).
for package in nginx curl bc; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$package" >/dev/null
done

bench_server_start() {
  local port=18080
  chmod -R a+rX "$work"  # nginx's workers don't run as root
  cat >"$work/nginx.conf" <<CONF
daemon on;
pid $work/nginx.pid;
error_log $work/error.log;
worker_processes 1;
events { worker_connections 256; }
http {
  log_format bench '\$connection \$status \$request_uri \$body_bytes_sent';
  access_log $work/access.log bench;
  sendfile on;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
  nginx -c "$work/nginx.conf"
  sleep 0.5
  url="http://127.0.0.1:$port"
}

bench_server_stop() {
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null
  rm -f "$work/nginx.pid"
}

# Seconds, with fractions, that a command takes.
seconds_of() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l | xargs printf '%.2f'
}
