# Sourced by the benchmarks: serves a folder with nginx on a free loopback port.
#
#   start_nginx WORK ROOT PROBE   # nginx files under WORK/nginx, documents in
#                                 # ROOT; returns once PROBE (a path) answers.
# Sets `port` and `server_pid`; the caller kills server_pid when done.
start_nginx() {
  local work=$1 root=$2 probe=$3
  local nginx_bin
  nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
  [ -x "$nginx_bin" ] || { echo "nginx is needed (apt-get install nginx-light)" >&2; return 1; }
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  mkdir -p "$work/nginx/logs"
  cat >"$work/nginx/nginx.conf" <<NGINX
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  keepalive_requests 100000;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server { listen 127.0.0.1:$port; root $root; }
}
NGINX
  "$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
  server_pid=$!
  local _
  for _ in $(seq 50); do
    curl -s -o /dev/null "http://127.0.0.1:$port/$probe" && return 0
    sleep 0.1
  done
  echo "nginx did not answer on port $port" >&2
  return 1
}
