# Sourced by the benchmarks: serves a folder with nginx on a free loopback port.
#
#   start_nginx WORK ROOT PROBE [tls]
#       nginx files under WORK/nginx, documents in ROOT; returns once PROBE (a
#       path) answers. With "tls" it also serves https on a second port under
#       a certificate for 127.0.0.1 signed by a test authority made here.
# Sets `port` and `server_pid`, with tls also `tls_port` and `ca_file` (the
# authority to trust); the caller kills server_pid when done.

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# A test certificate authority and a certificate for 127.0.0.1 and localhost
# signed by it, under DIR: ca.pem, server.pem, server.key.
make_test_certificate() {
  local dir=$1
  mkdir -p "$dir"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Bench test CA" \
    -keyout "$dir/ca.key" -out "$dir/ca.pem" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout "$dir/server.key" \
    -out "$dir/server.csr" 2>/dev/null
  printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' \
    >"$dir/server.ext"
  openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial -days 2 \
    -extfile "$dir/server.ext" -out "$dir/server.pem" 2>/dev/null
}

start_nginx() {
  local work=$1 root=$2 probe=$3 tls=${4:-}
  local nginx_bin tls_server=
  nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
  [ -x "$nginx_bin" ] || { echo "nginx is needed (apt-get install nginx-light)" >&2; return 1; }
  command -v openssl >/dev/null || [ -z "$tls" ] || { echo "openssl is needed" >&2; return 1; }
  port=$(free_port)
  mkdir -p "$work/nginx/logs"
  if [ -n "$tls" ]; then
    tls_port=$(free_port)
    make_test_certificate "$work/nginx/tls"
    ca_file=$work/nginx/tls/ca.pem
    tls_server="server { listen 127.0.0.1:$tls_port ssl; root $root;
    ssl_certificate $work/nginx/tls/server.pem; ssl_certificate_key $work/nginx/tls/server.key;
    ssl_session_cache shared:bench:1m; }"
  fi
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
  $tls_server
}
NGINX
  "$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
  server_pid=$!
  local _
  for _ in $(seq 50); do
    if curl -s -o /dev/null "http://127.0.0.1:$port/$probe" \
      && { [ -z "$tls" ] || curl -s -o /dev/null --cacert "$ca_file" "https://127.0.0.1:$tls_port/$probe"; }; then
      return 0
    fi
    sleep 0.1
  done
  echo "nginx did not answer on port $port" >&2
  return 1
}
