# Remote hot-reload client: follows source changes published by a
# development machine. Only the objects exist in this build.
module ORB
  class RemoteHotloadClient
    attr_reader :server_ip_address, :server_port

    def initialize(server_ip_address, server_port)
      @server_ip_address = server_ip_address
      @server_port = server_port
    end

    def server_available?
      false
    end

    def tick(_args)
      nil
    end
  end

  class RemoteHotloadClientWrapper
    attr_reader :client

    def initialize(client)
      @client = client
    end

    def tick(args)
      @client.tick(args)
    end
  end
end
