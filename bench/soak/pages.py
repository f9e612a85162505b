#!/usr/bin/python3
"""Pages for the soak run, on loopback: /page/N is one of eight kinds chosen by N (plain, tall,
long table, script and canvas, Chinese text, frames, a missing page, a redirect), each address
distinct so nothing comes from a cache. Writes the chosen port to the file named by its argument,
then serves until it is killed."""
import http.server
import sys

KINDS = 8


def colour(n):
    return "#%02x%02x%02x" % ((n * 53) % 256, (n * 97) % 256, (n * 31) % 256)


def page(n):
    kind = n % KINDS
    head = "<!DOCTYPE html><html><head><meta charset='utf-8'><title>page %d</title></head>" % n
    if kind == 0:
        return 200, head + "<body style='background:%s'><h1>Page %d</h1></body></html>" % (colour(n), n)
    if kind == 1:
        bands = "".join("<div style='height:200px;background:%s'>%d</div>" % (colour(n + i), i) for i in range(20))
        return 200, head + "<body style='margin:0'>" + bands + "</body></html>"
    if kind == 2:
        rows = "".join("<tr><td>%d</td><td>row %d of page %d</td><td>%s</td></tr>" % (i, i, n, "x" * (i % 40))
                       for i in range(300))
        return 200, head + "<body><table border=1>" + rows + "</table></body></html>"
    if kind == 3:
        script = ("<canvas id=c width=700 height=500></canvas><script>var c=document.getElementById('c')"
                  ".getContext('2d');for(var i=0;i<400;i++){c.fillStyle='hsl('+(i*7)+',60%,50%)';"
                  "c.fillRect((i*37)%700,(i*53)%500,40,40);}var t=0;setInterval(function(){t++;"
                  "document.title='page " + str(n) + " '+t;},250);</script>")
        return 200, head + "<body>" + script + "</body></html>"
    if kind == 4:
        text = "<p>这是第 %d 页。网页截图批量测试，汉字与标点：，。！？</p>" % n
        return 200, ("<!DOCTYPE html><html><head><meta charset='utf-8'><title>第 %d 页</title></head>"
                     "<body style='font-size:24px'>" % n) + text * 30 + "</body></html>"
    if kind == 5:
        frames = "".join("<iframe src='/page/%d' width=380 height=280></iframe>" % (n * 8 + 1000 + i * 8)
                         for i in range(2))
        return 200, head + "<body>" + frames + "</body></html>"
    if kind == 6:
        return 404, head + "<body><h1>Not here</h1></body></html>"
    return 302, "/page/%d" % (n * 8 + 100000)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        try:
            n = int(self.path.split("/page/", 1)[1].split("?")[0])
        except (IndexError, ValueError):
            n = 6
        status, body = page(n)
        if status == 302:
            self.send_response(302)
            self.send_header("Location", body)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        data = body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(data)


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    with open(sys.argv[1], "w") as out:
        out.write("%d\n" % server.server_address[1])
    server.serve_forever()


if __name__ == "__main__":
    main()
