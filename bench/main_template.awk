# A main page of 100 KiB for the benchmarks: lines of text with a transparent
# tag now and then (awk -f bench/main_template.awk > main.html).
BEGIN {
  printf "<html><head><title>Painel</title></head><body>\n"
  for (i = 0; ; i++) {
    line = sprintf("<p>Linha %05d do painel de administracao do site, com texto corrido para encher a pagina.</p>", i)
    if (i % 10 == 0) line = line "<#Item n=" i " kind=\"row\">"
    size += length(line) + 1
    if (size > 102400 - 16) break
    print line
  }
  printf "</body></html>\n"
}
